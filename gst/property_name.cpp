#include "gst/property_name.h"

#include <cctype>

namespace bayercam::gst {

std::string PropertyNameOf(const std::string& controlName) {
    auto upper = [](char c) { return std::isupper(static_cast<unsigned char>(c)) != 0; };
    auto lower = [](char c) { return std::islower(static_cast<unsigned char>(c)) != 0; };
    auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    std::string name;
    for (size_t i = 0; i < controlName.size(); ++i) {
        char c = controlName[i];
        if (i > 0 && upper(c)) {
            char before = controlName[i - 1];
            bool afterWord = lower(before) || digit(before);
            bool endsAcronym =
                upper(before) && i + 1 < controlName.size() && lower(controlName[i + 1]);
            if (afterWord || endsAcronym) name += '-';
        }
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return name;
}

}  // namespace bayercam::gst
