// Qt's own texts (standard buttons such as "确定", an edit's context menu,
// the file and colour dialogs) in Simplified Chinese, like the rest of the
// console. Debian's qt6-translations-l10n ships them.
#pragma once

// Loads Qt's Simplified Chinese base translations into the running
// application, once. False when they are not installed: Qt's texts stay
// English and everything else works.
bool InstallQtTranslations();
