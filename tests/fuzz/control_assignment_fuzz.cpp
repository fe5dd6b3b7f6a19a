// "NAME=VALUE[,VALUE]..." as the tool's set and capture commands take it: any text may be
// refused, but what is accepted names a property by a name that finds it again, and its values
// written back out parse to the same values. The library finds a control by the same name, or
// none, never another.
#include <cstdlib>
#include <string>
#include <vector>

#include "api/library/named_controls.h"
#include "fuzz/fuzz_target.h"
#include "tools/control_properties.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bayercam;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string name = text.substr(0, text.find('='));
    const ControlProperty* named = library::FindNamedControl(name);
    if (named && named != tool::FindControlProperty(name)) std::abort();
    const ControlProperty* property = nullptr;
    std::vector<int32_t> values;
    std::string error;
    if (!tool::ParseAssignment(text, &property, &values, &error)) {
        if (error.empty()) std::abort();  // a refusal says why
        return 0;
    }
    if (!property || tool::FindControlProperty(property->name) != property) std::abort();
    std::string again = std::string(property->name) + "=";
    for (size_t i = 0; i < values.size(); ++i) {
        again += (i ? "," : "") + std::to_string(values[i]);
    }
    const ControlProperty* reparsed = nullptr;
    std::vector<int32_t> valuesAgain;
    if (!tool::ParseAssignment(again, &reparsed, &valuesAgain, &error) || reparsed != property ||
        valuesAgain != values) {
        std::abort();
    }
    return 0;
}
