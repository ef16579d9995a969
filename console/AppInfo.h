// The application's name (message-box captions, the About box) and version.
#pragma once

inline constexpr char kApplicationName[] = "QD7420";
inline constexpr char kApplicationVersion[] = "1.1";
