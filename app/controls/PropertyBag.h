// The stored properties of a control: keys to numbers or texts, in the order
// written. A value equal to its default is never stored, so reading a
// missing key gives the default back.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

using PropertyValue = std::variant<int64_t, std::string>;

class PropertyBag {
  public:
    void write(const std::string& key, const PropertyValue& value, const PropertyValue& def);
    // A missing key, or one that holds the other kind of value, reads as def.
    int64_t readNumber(const std::string& key, int64_t def) const;
    std::string readText(const std::string& key, const std::string& def) const;

    bool contains(const std::string& key) const;
    const std::vector<std::pair<std::string, PropertyValue>>& entries() const { return m_entries; }

  private:
    const PropertyValue* find(const std::string& key) const;
    std::vector<std::pair<std::string, PropertyValue>> m_entries;
};
