// Kept for code that includes "strings.h" for the string table. The name is
// also the C library's <strings.h>, and this directory is on the include path
// of everything that links the resources, so pass the system header through as
// well: otherwise <cstring> users (gtest among them) lose strcasecmp & co.
// New code includes "string_table.h".
#pragma GCC system_header
#include_next <strings.h>
#include "string_table.h"
