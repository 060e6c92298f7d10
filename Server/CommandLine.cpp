#include "CommandLine.h"

#include <strings.h>

#include <cstdlib>

namespace {

// Base-10 conversion that stops at the first non-digit; no digits gives 0.
long Decimal(const char* text)
{
    return std::strtol(text, nullptr, 10);
}

} // namespace

CCommandLine CCommandLine::Parse(int argc, const char* const* argv)
{
    CCommandLine result;
    for (int i = 0; i < argc; ++i) {
        const char* option = argv[i];
        if (!option)
            continue;
        const bool hasValue = i + 1 < argc && argv[i + 1];
        auto is = [option](const char* name) { return strcasecmp(option, name) == 0; };
        if (is("-config")) {
            if (hasValue)
                result.m_configPath = argv[++i];
        } else if (is("-port")) {
            if (hasValue)
                result.m_port = uint16_t(Decimal(argv[++i]));
        } else if (is("-httpport")) {
            if (hasValue)
                result.m_httpPort = uint16_t(Decimal(argv[++i]));
        } else if (is("-rconport")) {
            if (hasValue)
                result.m_rconPort = uint16_t(Decimal(argv[++i]));
        } else if (is("-maxplayers")) {
            if (hasValue)
                result.m_maxPlayers = int(Decimal(argv[++i]));
        } else if (is("-bindip")) {
            if (hasValue)
                result.m_bindIP = std::string(argv[++i]).substr(0, 63);
        } else if (is("-multithreaded")) {
            result.m_multithreaded = true;
        } else if (is("-disablemultithreaded")) {
            result.m_multithreaded = false;
        } else if (is("-noinput")) {
            result.m_noInput = true;
        } else if (is("-dumpdoc")) {
            result.m_dumpDoc = true;
        }
        // "-allowadmin" is accepted and ignored, like every other unknown argument.
    }
    return result;
}
