#include "string_table.h"

#include "resource.h"

namespace {

struct StringEntry {
    int id;
    const char* text;
};

constexpr StringEntry kStringTable[] = {
    {IDS_ABOUTBOX, "关于 QD7420(&A)..."},
};

}  // namespace

const char* LoadStringResource(int id)
{
    for (const StringEntry& entry : kStringTable) {
        if (entry.id == id)
            return entry.text;
    }
    return "";
}
