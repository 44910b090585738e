// Staging name and zone mark bytes. Pure logic for the worker thread.
#include "core/staging_name.h"

#include "core/decimal_text.h"

namespace core {

const char ZoneIdentifierText[26] = {'[', 'Z', 'o', 'n', 'e', 'T',  'r',  'a', 'n',
                                     's', 'f', 'e', 'r', ']', '\r', '\n', 'Z', 'o',
                                     'n', 'e', 'I', 'd', '=', '3',  '\r', '\n'};

std::string StagingFileName(std::string_view targetPath, std::uint32_t processId, unsigned n) {
    std::string name(targetPath);
    name += ".quillmere-";
    name += DecimalText(processId);
    name += '-';
    name += DecimalText(n);
    name += ".part";
    return name;
}

} // namespace core
