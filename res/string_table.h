// String table of the console.
#pragma once

// C++ linkage even when this lands inside an extern "C" block (see strings.h).
extern "C++" {

// The UTF-8 text of string resource `id`, or "" when there is no such string.
const char* LoadStringResource(int id);

}
