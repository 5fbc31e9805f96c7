#include "controls/PropertyBag.h"

void PropertyBag::write(const std::string& key, const PropertyValue& value,
                        const PropertyValue& def) {
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->first == key) {
            m_entries.erase(it);
            break;
        }
    }
    if (value != def) m_entries.emplace_back(key, value);
}

const PropertyValue* PropertyBag::find(const std::string& key) const {
    for (const auto& [k, v] : m_entries)
        if (k == key) return &v;
    return nullptr;
}

int64_t PropertyBag::readNumber(const std::string& key, int64_t def) const {
    const PropertyValue* v = find(key);
    const int64_t* n = v ? std::get_if<int64_t>(v) : nullptr;
    return n ? *n : def;
}

std::string PropertyBag::readText(const std::string& key, const std::string& def) const {
    const PropertyValue* v = find(key);
    const std::string* s = v ? std::get_if<std::string>(v) : nullptr;
    return s ? *s : def;
}

bool PropertyBag::contains(const std::string& key) const {
    return find(key) != nullptr;
}
