#include "protocol.h"

#include <gtest/gtest.h>

using namespace unplot::protocol;

TEST(PageList, PagesRangesBlanksAndDuplicates)
{
    EXPECT_EQ(parsePageList(" 1, 3 ,5-7 ", 10)->pages, (std::vector<int>{1, 3, 5, 6, 7}));
    EXPECT_TRUE(parsePageList("-1", 3)->all);
    EXPECT_FALSE(parsePageList("1-3", 3)->all);
    EXPECT_EQ(parsePageList("2,1-3,2", 0)->pages, (std::vector<int>{2, 1, 3}));  // no page count: not checked
    for (const char* text : {"", " ", "0", "a", "1,,2", "1-", "-3", "1.5", "2-1", "2,", "1 2", "99999999999"}) {
        PageListError error;
        EXPECT_FALSE(parsePageList(text, 0, &error)) << '"' << text << '"';
        EXPECT_FALSE(error.message.empty()) << '"' << text << '"';
    }
    PageListError error;
    EXPECT_FALSE(parsePageList("1,4", 3, &error));
    EXPECT_EQ(error.message, "The page list names page 4, but the document has 3 pages.");

    std::string repeated;  // a list may name kMaxListedPages pages, repeats included
    for (int i = 0; i < 50; ++i)
        repeated += "1-90000,";
    EXPECT_FALSE(parsePageList(repeated + "1", 0));
    EXPECT_FALSE(parsePageList("1-100001", 0));
    EXPECT_EQ(parsePageList("1-100000", 0)->pages.size(), kMaxListedPages);
}

TEST(Protocol, VersionsAndJobIds)
{
    EXPECT_EQ(parseVersion("14").value().acadVer, "AC1014");
    EXPECT_EQ(parseVersion("r14").value().code, 14);
    EXPECT_EQ(parseVersion("2010").value().code, 23);
    EXPECT_EQ(parseVersion("21").value().acadVer, "AC1021");
    for (const char* text : {"16", "14 ", ""})
        EXPECT_FALSE(parseVersion(text)) << text;
    EXPECT_FALSE(findVersion(0));

    EXPECT_TRUE(isValidJobId("0123456789abcdef0123456789abcdef"));
    for (const char* id : {"0123456789ABCDEF0123456789abcdef", "0123456789abcdefg123456789abcdef", "0123456789abcdef0123456789abcde",
                           "0123456789abcdef0123456789abcdef0", "../../../../etc/passwd0123456789a", ""})
        EXPECT_FALSE(isValidJobId(id)) << id;
}
