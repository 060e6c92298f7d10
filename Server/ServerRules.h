#pragma once
// Server rules: descriptive name-value pairs shown to server browsers, in first-set order.

#include <string>
#include <utility>
#include <vector>

class CServerRules {
public:
    using tRule = std::pair<std::string, std::string>;

    // The first rule of exactly this name gets the value in place; otherwise the pair is appended.
    void SetRule(const std::string& name, const std::string& value);
    // The value, or null when no rule has exactly this name.
    const std::string* GetRule(const std::string& name) const;
    const std::vector<tRule>& GetRules() const { return m_rules; }

private:
    std::vector<tRule> m_rules;
};
