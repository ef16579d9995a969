// String table and application icon.
#include "resource.h"
#include "string_table.h"

#include <gtest/gtest.h>

#include <QPixmap>

#include <cstring>

TEST(StringTable, AboutEntryHasItsMenuText)
{
    EXPECT_STREQ(LoadStringResource(IDS_ABOUTBOX), "关于 QD7420(&A)...");
}

TEST(StringTable, UnknownIdsGiveAnEmptyText)
{
    for (int id : {0, -1, 100, 102, 128, IDM_ABOUTBOX, 65535}) {
        SCOPED_TRACE(id);
        const char* text = LoadStringResource(id);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::strlen(text), 0u);
    }
}

// The icon is built into the resource library; an executable that links it
// finds the icon without initialising anything itself.
TEST(ApplicationIcon, IsLinkedInAndSquare)
{
    const QPixmap icon(QStringLiteral(":/icons/qd7420.png"));
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.width(), icon.height());
    EXPECT_GE(icon.width(), 32);
    EXPECT_TRUE(icon.hasAlphaChannel());
}
