// Sessions: the server, its groups with their settings and their items, saved as a small JSON
// document that people can read and edit (the format is described in README.md), and read
// back whole before anything is changed, so that a malformed file changes nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/Velqor.h"

struct SessionItem {
    std::string ItemID;
    std::string AccessPath;
    bool Active = true;
    int32_t RequestedType = 0;  // variant type asked of the server, 0 for its own
    bool operator==(const SessionItem&) const = default;
};

struct SessionGroup {
    std::string Name;
    bool Active = true;
    int32_t UpdateRate = 1000;
    float DeadBand = 0;
    int32_t TimeBias = 0;
    int32_t LocaleId = 0;
    int32_t HoldTime = 0, WaitTime = 0;  // XML-DA subscription hold and wait times, ms
    std::vector<SessionItem> Items;
    bool operator==(const SessionGroup&) const = default;
};

struct Session {
    std::string Server;
    std::string Computer;  // remote computer of a COM server, "" for this one
    std::vector<SessionGroup> Groups;
    bool operator==(const Session&) const = default;
};

// What a server component holds now.
Session CaptureSession(velqor::TVelqorServer& server);
// Writes the session to path as JSON; raises with the file's error.
void SaveSessionFile(const Session& session, const std::string& path);
// Reads a session file; raises with a message that names the file and what is wrong with it
// (not JSON, not a session, a missing or mistyped field, two groups of one name).
Session LoadSessionFile(const std::string& path);
// Makes the component's groups and items those of the session (the component must not be
// active; the groups it had are removed first).
void ApplySession(const Session& session, velqor::TVelqorServer& server);
// Adds the session's groups and their items to the component as they are (its server and
// other groups untouched); on an active component they are made on the server at once.
void AddSessionGroups(const Session& session, velqor::TVelqorServer& server);
