#include "protocol.h"

#include <gtest/gtest.h>

using namespace unplot::protocol;

TEST(PageList, AcceptsPagesRangesAndBlanks)
{
    auto list = parsePageList(" 1, 3 ,5-7 ", 10);
    ASSERT_TRUE(list);
    EXPECT_FALSE(list->all);
    EXPECT_EQ(list->pages, (std::vector<int>{1, 3, 5, 6, 7}));

    auto all = parsePageList("-1", 3);
    ASSERT_TRUE(all);
    EXPECT_TRUE(all->all);

    auto dup = parsePageList("2,1-3,2", 0);  // no page count known: ranges are not checked against it
    ASSERT_TRUE(dup);
    EXPECT_EQ(dup->pages, (std::vector<int>{2, 1, 3}));
}

TEST(PageList, RefusesMalformedListsWithAReason)
{
    for (const char* text : {"", " ", "0", "a", "1,,2", "1-", "-3", "1.5", "3-1", "2,", "1 2", "99999999999"}) {
        PageListError error;
        EXPECT_FALSE(parsePageList(text, 10, &error)) << '"' << text << '"';
        EXPECT_FALSE(error.message.empty()) << '"' << text << '"';
    }
}

TEST(PageList, RefusesPagesBeyondTheDocument)
{
    PageListError error;
    EXPECT_FALSE(parsePageList("1,4", 3, &error));
    EXPECT_EQ(error.message, "The page list names page 4, but the document has 3 pages.");
    EXPECT_TRUE(parsePageList("1-3", 3));
}

TEST(PageList, BoundsWhatAListMayName)
{
    std::string repeated;
    for (int i = 0; i < 50; ++i)
        repeated += "1-90000,";
    EXPECT_FALSE(parsePageList(repeated + "1", 0));
    EXPECT_FALSE(parsePageList("1-100001", 0));
    EXPECT_EQ(parsePageList("1-100000", 0)->pages.size(), kMaxListedPages);
}

TEST(Versions, CodesAndNames)
{
    EXPECT_EQ(parseVersion("14")->acadVer, "AC1014");
    EXPECT_EQ(parseVersion("r14")->code, 14);
    EXPECT_EQ(parseVersion("2010")->code, 23);
    EXPECT_EQ(parseVersion("21")->name, "2007");
    EXPECT_FALSE(parseVersion("16"));
    EXPECT_FALSE(parseVersion("14 "));
    EXPECT_FALSE(parseVersion(""));
    EXPECT_FALSE(findVersion(0));
}

TEST(JobIds, OnlyLowerCaseHexOfFullLength)
{
    EXPECT_TRUE(isValidJobId("0123456789abcdef0123456789abcdef"));
    EXPECT_FALSE(isValidJobId("0123456789ABCDEF0123456789abcdef"));
    EXPECT_FALSE(isValidJobId("0123456789abcdef0123456789abcde"));
    EXPECT_FALSE(isValidJobId("0123456789abcdef0123456789abcdef0"));
    EXPECT_FALSE(isValidJobId("../../../../etc/passwd0123456789a"));
    EXPECT_FALSE(isValidJobId(""));
}
