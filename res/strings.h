// String table of the console.
#pragma once

// The UTF-8 text of string resource `id`, or "" when there is no such string.
const char* LoadStringResource(int id);
