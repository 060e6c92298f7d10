// The documentation dump: the defines, event types, commands and the whole script interface as
// XML files in the server's folder, for editors and documentation tools.

#include "Scripting/ResourceMgr.h"

#include "Engine/FileSystem.h"

#include <sys/stat.h>
#include <tinyxml.h>

#include <string>
#include <unordered_map>

namespace Corvane3D {

namespace {

// The type word of a value type id; null for types that get no "Type" attribute.
const char* TypeWord(uint8_t type)
{
    switch (type) {
    case ARGUMENT_NIL: return "void";
    case ARGUMENT_BOOLEAN: return "bool";
    case ARGUMENT_STRING: return "string";
    case ARGUMENT_INTEGER: return "int";
    case ARGUMENT_FLOAT:
    case ARGUMENT_DOUBLE: return "number";
    case ARGUMENT_NETOBJECT: return "NetObject";
    case ARGUMENT_OBJECT: return "Object";
    case ARGUMENT_VECTOR2D: return "Vector2D";
    case ARGUMENT_VECTOR3D: return "Vector3D";
    case ARGUMENT_VECTOR4D: return "Vector4D";
    case ARGUMENT_MATRIX4X4: return "Matrix4x4";
    case ARGUMENT_LONGINTEGER: return "int64";
    default: return nullptr;
    }
}

const char* TrueFalse(bool value)
{
    return value ? "true" : "false";
}

TiXmlElement* AddChild(TiXmlNode* parent, const char* name)
{
    return parent->LinkEndChild(new TiXmlElement(name))->ToElement();
}

void AddComment(TiXmlNode* parent, const char* text)
{
    TiXmlComment comment;
    comment.SetValue(text);
    parent->InsertEndChild(comment);
}

void WriteProperty(TiXmlNode* parent, const ReflectedProperty& property)
{
    TiXmlElement* element = AddChild(parent, "Property");
    element->SetAttribute("Name", property.GetName());
    element->SetAttribute("ReadOnly", TrueFalse(property.IsReadOnly()));
    element->SetAttribute("Obsolete", TrueFalse(property.IsObsolete()));
    if (const char* type = TypeWord(property.GetValueType()))
        element->SetAttribute("Type", type);
}

void WriteFunction(TiXmlNode* parent, const ReflectedFunction& function)
{
    TiXmlElement* element = AddChild(parent, "Function");
    const char* mask = function.GetMask();
    element->SetAttribute("Name", function.GetName() ? function.GetName() : "");
    element->SetAttribute("Mask", mask ? mask : "");
    element->SetAttribute("RequiredArguments", ScriptFunction::CalcArgumentCount(mask));
    element->SetAttribute("Obsolete", TrueFalse(function.IsObsolete()));
}

void WriteNamespace(TiXmlNode* parent, const ReflectedNamespace& space,
                    std::unordered_map<const ReflectedClass*, TiXmlElement*>& written)
{
    TiXmlElement* element = AddChild(parent, "Namespace");
    element->SetAttribute("Name", space.GetName());
    for (const auto& property : space.GetProperties())
        WriteProperty(element, *property);
    for (const auto& function : space.GetFunctions())
        WriteFunction(element, *function);
    for (const auto& cls : space.GetClasses()) {
        auto parentElement = written.find(cls->GetParentClass());
        TiXmlNode* holder = parentElement != written.end() ? parentElement->second : element;
        TiXmlElement* classElement = AddChild(holder, "Class");
        classElement->SetAttribute("Name", cls->GetName());
        for (const auto& property : cls->GetProperties())
            WriteProperty(classElement, *property);
        for (const auto& function : cls->GetFunctions())
            WriteFunction(classElement, *function);
        written[cls.get()] = classElement;
    }
    for (const auto& child : space.GetNamespaces())
        WriteNamespace(element, *child, written);
}

bool Save(TiXmlDocument& document, const std::string& path)
{
    document.InsertBeforeChild(document.FirstChild(), TiXmlDeclaration("1.0", "UTF-8", ""));
    return document.SaveFile(path.c_str());
}

} // namespace

bool CResourceMgr::DumpDocumentation()
{
    CFileSystem* fileSystem = GetFileSystem();
    std::string root;
    if (!fileSystem || !fileSystem->ResolvePath("/", root))
        return false;
    if (!root.empty() && root.back() != '/')
        root += '/';
    const std::string folder = root + "Documentation";
    mkdir(folder.c_str(), 0755);
    bool ok = true;

    {
        TiXmlDocument document;
        TiXmlElement* defines = AddChild(&document, "Defines");
        for (const CDefineHandlers::IntDefine& define : m_pDefineHandlers->GetDefines()) {
            TiXmlElement* element = AddChild(defines, "Define");
            element->SetAttribute("Name", define.m_name.c_str());
            element->SetAttribute("Value", define.m_bUnsigned ? std::to_string(define.GetUnsigned()).c_str()
                                                              : std::to_string(define.GetSigned()).c_str());
        }
        ok = Save(document, folder + "/Defines.xml") && ok;
    }
    {
        TiXmlDocument document;
        TiXmlElement* types = AddChild(&document, "EventTypes");
        for (const EventHandlers::CEventType* type : m_pEventHandlers->GetEventTypes()) {
            AddComment(types, type->GetDescription());
            TiXmlElement* element = AddChild(types, "EventType");
            element->SetAttribute("Name", type->GetName());
            element->SetAttribute("Hash", std::to_string(type->GetNameHash()).c_str());
            if (type->GetArgumentCount() != EventHandlers::CEventType::NoArgumentCount)
                element->SetAttribute("Arguments", type->GetArgumentCount());
            element->SetAttribute("CanPreventDefault", TrueFalse(type->IsCancellable()));
        }
        ok = Save(document, folder + "/EventTypes.xml") && ok;
    }
    {
        TiXmlDocument document;
        TiXmlElement* commands = AddChild(&document, "Commands");
        for (const CCommandHandler* handler : m_pCommandHandlers->GetCommandHandlers()) {
            TiXmlElement* element = AddChild(commands, "Command");
            element->SetAttribute("Name", handler->GetName());
            element->SetAttribute("Hash", std::to_string(handler->GetNameHash()).c_str());
        }
        ok = Save(document, folder + "/Commands.xml") && ok;
    }
    {
        TiXmlDocument document;
        TiXmlElement* documentation = AddChild(&document, "Documentation");
        AddComment(documentation, "\nMask Values\n"
                                  "b - bool\n"
                                  "i - int32\n"
                                  "f - float\n"
                                  "s - string\n"
                                  "c - function/callback\n"
                                  "x - class/instance\n"
                                  "z - vector2D\n"
                                  "v - vector3D\n"
                                  "t - thiscall\n"
                                  "| - optional arguments\n"
                                  "* - infinite arguments\n"
                                  ". - any type\n");
        std::unordered_map<const ReflectedClass*, TiXmlElement*> written;
        WriteNamespace(documentation, *m_pScripting->GetGlobal(), written);
        ok = Save(document, folder + "/Documentation.xml") && ok;
    }
    return ok;
}

} // namespace Corvane3D
