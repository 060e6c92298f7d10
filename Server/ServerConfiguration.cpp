#include "ServerConfiguration.h"

#include "Engine/Context.h"

#include <cstdlib>
#include <cstring>

using namespace Corvane3D;

CElementChunk* CServerConfiguration::GetElement(const char* name) const
{
    if (!m_root || !name)
        return nullptr;
    for (size_t i = 0; i < m_root->GetChildCount(); ++i) {
        CChunk* child = m_root->GetChild(i);
        if (child->GetType() == CHUNK_ELEMENT && child->GetName() == name)
            return static_cast<CElementChunk*>(child);
    }
    return nullptr;
}

std::vector<CElementChunk*> CServerConfiguration::GetChildren(const CElementChunk* parent, const char* name)
{
    std::vector<CElementChunk*> result;
    if (!parent || !name)
        return result;
    for (size_t i = 0; i < parent->GetChildCount(); ++i) {
        CChunk* child = parent->GetChild(i);
        if (child->GetType() == CHUNK_ELEMENT && child->GetName() == name)
            result.push_back(static_cast<CElementChunk*>(child));
    }
    return result;
}

void CServerConfiguration::ForEachAttributePair(const CElementChunk* parent, const char* child, const char* label,
                                                const char* first, const char* second, const PairVisitor& visit)
{
    for (const CElementChunk* element : GetChildren(parent, child)) {
        const char* firstValue = element->Attribute(first);
        const char* secondValue = element->Attribute(second);
        if (!firstValue)
            GetContext()->LogError("%s in config without %s attribute!", label, first);
        else if (!secondValue)
            GetContext()->LogError("%s %s in config without %s attribute!", label, firstValue, second);
        else
            visit(firstValue, secondValue);
    }
}

const char* CServerConfiguration::GetText(const char* name) const
{
    const CElementChunk* element = GetElement(name);
    if (!element)
        return nullptr;
    size_t length = 0;
    const char* text = element->GetText(&length);
    return (text && length > 0) ? text : nullptr;
}

bool CServerConfiguration::ParseBool(const char* text, bool fallback)
{
    if (!text)
        return fallback;
    if (std::strcmp(text, "true") == 0 || std::strcmp(text, "1") == 0)
        return true;
    if (std::strcmp(text, "false") == 0 || std::strcmp(text, "0") == 0)
        return false;
    return fallback;
}

bool CServerConfiguration::GetBoolValue(const char* name, bool defaultValue) const
{
    return ParseBool(GetText(name), defaultValue);
}

long CServerConfiguration::GetIntegerValue(const char* name, long defaultValue) const
{
    const char* text = GetText(name);
    return text ? std::strtol(text, nullptr, 10) : defaultValue;
}

float CServerConfiguration::GetRealValue(const char* name, float defaultValue) const
{
    const char* text = GetText(name);
    return text ? std::strtof(text, nullptr) : defaultValue;
}

std::string CServerConfiguration::GetTextValue(const char* name, const std::string& defaultValue,
                                               size_t maxLength) const
{
    const char* text = GetText(name);
    std::string value = text ? text : defaultValue;
    if (value.size() > maxLength)
        value.resize(maxLength);
    return value;
}
