// Reads a desktop entry back the way desktop environments do, through GLib: the key file
// parser (value escapes), the shell-style argument splitter (quoting), then the field
// codes. Kept apart from Qt because GLib's headers and Qt's keywords do not mix.
#pragma once

#include <string>
#include <vector>

namespace zb::test {

struct DesktopEntryReading {
    bool available = false;  // false when the tests were built without GLib
    bool loaded = false;
    std::string error;
    std::string exec;                    // the Exec value after the file's escapes
    std::string tryExec;                 // the TryExec value
    std::vector<std::string> argv;       // Exec split and with %f set to the document
    std::vector<std::string> mimeTypes;  // as the application info object reports them
};

DesktopEntryReading ReadDesktopEntry(const std::string& path, const std::string& document);

}  // namespace zb::test
