// Any command string to the capture device. With no recording input the device can
// open, set and refuse, but never writes a file, so the fuzzer cannot touch the disk.
#include <cstddef>
#include <cstdint>
#include <string>

#include "export/capture_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static zb::capture::CaptureDevice device(nullptr);
    std::string text(reinterpret_cast<const char*>(data), size);
    zb::capture::parseCommand(text);
    // Several commands per input, split at newlines, so sequences get explored too.
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = text.find('\n', start);
        device.send(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    device.send("close capture");
    return 0;
}
