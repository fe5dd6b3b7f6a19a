// Settings files are edited by hand: any text must parse without fault, and whatever parses must
// survive being written and read back unchanged.
#include <cstdlib>
#include <string_view>

#include "fuzz/fuzz_target.h"
#include "platform/registry/registry_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using bayercam::RegistryValue;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<RegistryValue> values = bayercam::ParseRegistryValues(text);
    std::vector<RegistryValue> again =
        bayercam::ParseRegistryValues(bayercam::FormatRegistryValues(values));
    if (again.size() != values.size()) std::abort();
    for (size_t i = 0; i < values.size(); ++i) {
        if (again[i].name != values[i].name || again[i].type != values[i].type ||
            again[i].data != values[i].data) {
            std::abort();
        }
    }
    return 0;
}
