#include "AdminCheck.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string thrown(const std::string& xml) {
    try {
        isListedAdministrator(xml, "u");
    } catch (const std::string& message) {
        return message;
    }
    return "";
}

TEST(AdminCheckTest, NamesMatchExactlyAfterSplittingAtCommas) {
    const std::string info = "<info><administrators>root,Bob, carol,,DOM\\dave</administrators></info>";
    EXPECT_TRUE(isListedAdministrator(info, "root"));
    EXPECT_TRUE(isListedAdministrator(info, "Bob"));
    EXPECT_FALSE(isListedAdministrator(info, "bob"));
    EXPECT_FALSE(isListedAdministrator(info, "carol"));
    EXPECT_TRUE(isListedAdministrator(info, " carol"));
    EXPECT_TRUE(isListedAdministrator(info, "DOM\\dave"));
    EXPECT_FALSE(isListedAdministrator(info, "dave"));
    EXPECT_FALSE(isListedAdministrator(info, ""));
    EXPECT_FALSE(isListedAdministrator("<info><administrators><x/></administrators></info>", "u"));
    // A long list was once cut short.
    const std::string many = std::string(5000, 'x') + ",last";
    EXPECT_TRUE(isListedAdministrator("<info><administrators>" + many + "</administrators></info>", "last"));
}

TEST(AdminCheckTest, BadDocumentsFailWithTheirMessages) {
    EXPECT_EQ(thrown("<info><administrators>u</info>"), "Parse manager's metadata failed");
    EXPECT_EQ(thrown(""), "Parse manager's metadata failed");
    EXPECT_EQ(thrown("<config><administrators>u</administrators></config>"), "Invalid manager's metadata");
    EXPECT_EQ(thrown("<info><admins>u</admins></info>"), "Invalid manager's metadata");
    EXPECT_EQ(thrown("<info><administrators>u</administrators></info>"), "");
}

}  // namespace
