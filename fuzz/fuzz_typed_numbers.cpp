// Any text typed into the tone, pan, volume and tempo boxes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/step_rule.h"
#include "core/typed_number.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    struct Range {
        int32_t min, max;
    };
    for (const Range r : {Range{100, 100000}, Range{-10000, 10000}, Range{-10000, 0}}) {
        const auto v = zb::num::TypedSliderValue(text, r.min, r.max);
        if (v && (*v < r.min || *v > r.max))
            __builtin_trap();
    }
    const auto tempo = zb::seq::parseTempoText(text);
    if (tempo && (*tempo < 6 || *tempo > 240))
        __builtin_trap();
    return 0;
}
