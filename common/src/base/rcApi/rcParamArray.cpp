#include "base/rcApi/rcParam.h"

namespace Corvane {

rcParam::Array::Array(const Decl* decls, const char* argText) {
    for (const Decl* s = decls; s && s->type; ++s)
        params_.push_back(s->type->create());
    if (!argText || params_.empty())
        return;
    if (params_.size() == 1) {
        params_[0]->fromString(argText);
        return;
    }
    split(argText);
}

// Blanks outside double quotes end a token; a double quote after a
// backslash is kept (with the backslash) and does not toggle quoting.
void rcParam::Array::split(const char* argText) {
    std::string token;
    size_t next = 0;
    bool inQuotes = false;
    char previous = '\0';
    for (const char* p = argText; *p; previous = *p, ++p) {
        const char c = *p;
        if (c == '"') {
            if (previous == '\\')
                token += c;
            else
                inQuotes = !inQuotes;
        } else if (c == ' ' && !inQuotes) {
            params_[next++]->fromString(token);
            token.clear();
            if (next == params_.size())
                return;  // the rest of the text is ignored
        } else {
            token += c;
        }
    }
    params_[next]->fromString(token);
}

}  // namespace Corvane
