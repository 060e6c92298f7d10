#pragma once
// server.xml as loaded: the root element and the conversions every setting uses.

#include "Engine/CorvaneHBF.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CServerConfiguration {
public:
    explicit CServerConfiguration(std::unique_ptr<Corvane3D::CElementChunk> root) : m_root(std::move(root)) {}

    Corvane3D::CElementChunk* GetRoot() const { return m_root.get(); }

    // The first direct child of the root with exactly this name (case matters), or null.
    Corvane3D::CElementChunk* GetElement(const char* name) const;
    // Every direct child of `parent` with exactly this name, in file order.
    static std::vector<Corvane3D::CElementChunk*> GetChildren(const Corvane3D::CElementChunk* parent,
                                                              const char* name);

    // Visits every `child` of `parent` that has both attributes, in file order. An element that
    // lacks one is reported ("<label> in config without <first> attribute!", or with the first
    // value after the label when the second is missing) and skipped.
    using PairVisitor = std::function<void(const char* first, const char* second)>;
    static void ForEachAttributePair(const Corvane3D::CElementChunk* parent, const char* child, const char* label,
                                     const char* first, const char* second, const PairVisitor& visit);

    // The setting's text, or null when the element is missing or has no text.
    const char* GetText(const char* name) const;

    // "true"/"1" and "false"/"0" exactly; anything else gives the default.
    bool GetBoolValue(const char* name, bool defaultValue) const;
    // Base-10 digits up to the first non-digit (no digits gives 0); the default when missing.
    long GetIntegerValue(const char* name, long defaultValue) const;
    float GetRealValue(const char* name, float defaultValue) const;
    // The text cut to `maxLength` characters, or the default.
    std::string GetTextValue(const char* name, const std::string& defaultValue, size_t maxLength) const;

    // Boolean conversion of an arbitrary text: true/false for a recognised word, else `fallback`.
    static bool ParseBool(const char* text, bool fallback);

private:
    std::unique_ptr<Corvane3D::CElementChunk> m_root;
};
