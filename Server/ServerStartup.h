#pragma once
// The start-up and shutdown sequences of the entry point.

#include "CommandLine.h"
#include "RovaServer.h"

// Reads the configuration, applies the command line, opens the ports, creates the console
// client, starts the configured resources and runs the start-up commands. False after a logged
// failure: the caller waits for a key and exits with status 1.
bool StartServer(CRovaServer& server, const CCommandLine& commandLine);

// Runs down what StartServer set up, before the server object is destroyed.
void StopServer(CRovaServer& server);
