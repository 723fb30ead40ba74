#include "study/models.h"

#include <algorithm>
#include <cctype>

namespace temra::study {

const ModelInfo* ModelOfKey(std::string_view key) {
    for (const ModelInfo& m : kModels)
        if (std::equal(key.begin(), key.end(), m.key.begin(), m.key.end(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == b;
            }))
            return &m;
    return nullptr;
}

} // namespace temra::study
