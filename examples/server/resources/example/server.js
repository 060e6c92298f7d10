// An example resource: it greets the server, answers a command, counts with a timer and offers
// a function other resources can call.

"use strict";

let uptimeMinutes = 0;

addEventHandler("OnResourceStart", (event, resource) => {
    if (resource === thisResource)
        console.log(`Example resource started (version ${thisResource.version || "unknown"})`);
});

addEventHandler("OnPlayerJoined", (event, client) => {
    console.log(`${client.name} joined the server`);
});

addEventHandler("OnPlayerQuit", (event, client, reason) => {
    console.log(`${client.name} left the server (reason ${reason})`);
});

// "uptime" on the console (or "/uptime" from a player) reports how long the resource has run.
addCommandHandler("uptime", (command, parameters, client) => {
    console.log(`The example resource has been running for ${uptimeMinutes} minute(s)`);
});

setInterval(() => {
    uptimeMinutes++;
}, 60000);

// Other resources call this through findResourceByName("example").exports.greet("name").
exportFunction("greet", (name) => `Hello, ${name}!`);

// Timers and events also run async functions; awaited work continues in later frames.
async function announce() {
    await new Promise((resolve) => setTimeout(resolve, 1000));
    console.log("The example resource has been running for a second");
}
announce();
