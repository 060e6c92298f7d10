#pragma once
// The settings the command line may override, gathered before server.xml is read.

#include <cstdint>
#include <optional>
#include <string>

struct CCommandLine {
    std::string m_configPath = "server.xml";
    std::optional<uint16_t> m_port;
    std::optional<uint16_t> m_httpPort;
    std::optional<uint16_t> m_rconPort;
    std::optional<int> m_maxPlayers;
    std::optional<std::string> m_bindIP;
    std::optional<bool> m_multithreaded;
    bool m_noInput = false;
    bool m_dumpDoc = false;

    // Every argument is examined, the program name included; an option that takes a value
    // consumes the next argument whatever it looks like; unknown arguments are ignored and the
    // later of two equal options wins.
    static CCommandLine Parse(int argc, const char* const* argv);
};
