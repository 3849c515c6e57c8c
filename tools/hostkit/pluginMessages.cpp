#include "pluginMessages.h"

namespace hostkit {
namespace {

// One letter per insert, in the order the library passes them: c command line, w reporting
// function, e error text, r return code, f source file, l source line.
struct Layout {
    int number;
    const char* inserts;
};
constexpr Layout kLayouts[] = {
    {kMsgCreateFailed, "werfl"},
    {kMsgRemoveFailed, "cwerfl"},
};

std::string text(const char* s) {
    return s != nullptr ? std::string(s) : std::string();
}

}  // namespace

PluginMessage decodeMessage(int number, va_list args) {
    PluginMessage message;
    message.number = number;
    for (const Layout& layout : kLayouts) {
        if (layout.number != number) continue;
        message.known = true;
        for (const char* kind = layout.inserts; *kind != '\0'; ++kind) {
            switch (*kind) {
                case 'c': message.command = text(va_arg(args, const char*)); break;
                case 'w': message.where = text(va_arg(args, const char*)); break;
                case 'e': message.errorText = text(va_arg(args, const char*)); break;
                case 'r': message.commandRc = va_arg(args, int); break;
                case 'f': message.file = text(va_arg(args, const char*)); break;
                case 'l': message.line = va_arg(args, int); break;
            }
        }
        break;
    }
    return message;
}

}  // namespace hostkit
