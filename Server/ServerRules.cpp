#include "ServerRules.h"

void CServerRules::SetRule(const std::string& name, const std::string& value)
{
    for (tRule& rule : m_rules) {
        if (rule.first == name) {
            rule.second = value;
            return;
        }
    }
    m_rules.emplace_back(name, value);
}

const std::string* CServerRules::GetRule(const std::string& name) const
{
    for (const tRule& rule : m_rules) {
        if (rule.first == name)
            return &rule.second;
    }
    return nullptr;
}
