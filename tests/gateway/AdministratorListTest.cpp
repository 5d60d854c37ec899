#include "AdministratorList.h"

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

TEST(AdministratorListTest, NamesMatchExactlyAfterSplittingAtCommas) {
    const std::string info = "<info><administrators>root,Bob, carol,,DOM\\dave</administrators></info>";
    for (const char* user : {"root", "Bob", " carol", "DOM\\dave"})
        EXPECT_TRUE(isListedAdministrator(info, user)) << user;
    for (const char* user : {"bob", "carol", "dave", ""})
        EXPECT_FALSE(isListedAdministrator(info, user)) << user;
    EXPECT_FALSE(isListedAdministrator("<info><administrators><x/></administrators></info>", "u"));
    // Past the 255 bytes of the list's working buffer: taken whole.
    const std::string many = std::string(5000, 'x') + ",last";
    EXPECT_TRUE(isListedAdministrator("<info><administrators>" + many + "</administrators></info>", "last"));
}

TEST(AdministratorListTest, BadDocumentsFailWithTheirMessages) {
    EXPECT_EQ(thrown("<info><administrators>u</info>"), "Parse manager's metadata failed");
    EXPECT_EQ(thrown(""), "Parse manager's metadata failed");
    EXPECT_EQ(thrown("<config><administrators>u</administrators></config>"), "Invalid manager's metadata");
    EXPECT_EQ(thrown("<info><admins>u</admins></info>"), "Invalid manager's metadata");
    EXPECT_EQ(thrown("<info><administrators>u</administrators></info>"), "");
}

}  // namespace
