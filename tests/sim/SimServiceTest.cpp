#include "sim/SimService.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "base/rcApi/rcAttrList.h"
#include "base/rcApi/rcAttrStream.h"
#include "base/rcApi/rcValue.h"
#include "client/api/CorvaneClipFormat.h"
#include "client/api/CorvaneTokenizer.h"
#include "sim/SimOptions.h"
#include "sim/SimTreeFile.h"
#include "support/MessageLog.h"

namespace CorvaneSim {
namespace {

const char* const kTree =
    "node / FOLDER Root\n"
    "meta / info <info><administrators>demo,admin</administrators></info>\n"
    "node /media FOLDER Media\n"
    "node /media/clip1 CLIP Clip one\n"
    "format /media/clip1 1920 1080 24 3 6220800 1 25 rgb 4 none\n"
    "frames /media/clip1 3\n"
    "meta /media/clip1 info <clip/>\n"
    "meta /media/clip1 notes n\n"
    "node \"/media/My folder\" FOLDER Mine, really\n"
    "node \"/media/My folder/take 2\" CLIP Take 2\n"
    "node /empty FOLDER\n"
    "group studio 7 edit1 edit2\n"
    "group solo 3\n"
    "hosttrans edit1 /mnt/media edit2 /Volumes/media\n"
    "ostrans Linux /mnt WindowsNT M:\n";

// Argument texts built the way the client builds them.
std::string nodeArg(const std::string& id) {
    return id.find(' ') == std::string::npos ? id : Corvane::rcValue::quote(id.c_str());
}

std::string quote(const std::string& text) { return Corvane::rcValue::quote(text.c_str()); }

std::string clipStream(const CorvaneClipFormat& format) {
    Corvane::rcAttrStream s;
    format.writeTo(s);
    return s.str();
}

// The client's reading of a "GetChildren" reply: pairs of tokens, swapped.
std::vector<std::pair<std::string, std::string>> clientChildren(const std::string& reply) {
    std::vector<char> buf(reply.begin(), reply.end());
    buf.push_back('\0');
    CorvaneTokenizer tok(buf.data(), ',');
    std::vector<std::pair<std::string, std::string>> out;
    // A token lives only until the next one is asked for.
    for (;;) {
        const char* first = tok.next();
        if (!first)
            return out;
        const std::string firstText = first;
        const char* second = tok.next();
        if (!second)
            return out;
        out.emplace_back(second, firstText);
    }
}

// An attribute stream in the order given; numbers go as their text.
std::string attrs(std::initializer_list<std::pair<const char*, std::string>> items) {
    Corvane::rcAttrStream s;
    for (const auto& item : items)
        s.addStringValue(item.first, item.second.c_str());
    return s.str();
}

// One attribute of a reply stream, or "<missing>".
std::string valueOf(const std::string& stream, const char* name) {
    std::string value = "<missing>";
    Corvane::rcAttrStream(stream).getValue(name, value);
    return value;
}

std::string stringList(const std::vector<std::string>& items) { return Corvane::rcAttrList<std::string>(items).str(); }

std::vector<std::string> decodeList(const std::string& reply) {
    std::vector<std::string> items;
    EXPECT_TRUE(Corvane::rcAttrList<std::string>(reply).decode(items)) << reply;
    return items;
}

class SimServiceTest : public ::testing::Test {
protected:
    SimServiceTest() : service_(makeService()) {}

    static SimService makeService() {
        SimTree tree;
        SimTranslations translations;
        std::string error;
        EXPECT_TRUE(SimTreeFile::parse(kTree, "tree", &tree, &translations, &error)) << error;
        const CorvaneDaemonInfo info = SimOptions().daemonInfo(7549, true);
        return SimService(std::move(tree), std::move(translations), info);
    }

    std::string ok(const std::string& method, const std::string& args) {
        std::string reply;
        EXPECT_TRUE(service_.call(method, args, &reply)) << method << "(" << args << ") failed: " << reply;
        return reply;
    }

    std::string err(const std::string& method, const std::string& args) {
        std::string reply;
        EXPECT_FALSE(service_.call(method, args, &reply)) << method << "(" << args << ") succeeded: " << reply;
        return reply;
    }

    SimService service_;
};

TEST_F(SimServiceTest, NodeArgumentsComeBareOrQuoted) {
    EXPECT_EQ(ok("GetNodeTypeStr", nodeArg("/media/clip1")), "CLIP");
    EXPECT_EQ(ok("GetNodeTypeStr", nodeArg("/media/My folder/take 2")), "CLIP");
    EXPECT_EQ(ok("GetDisplayName", nodeArg("/media/My folder")), "Mine, really");
    // The Ex forms send the identifier raw, blanks and all.
    EXPECT_EQ(ok("GetDisplayNameEx", "/media/My folder"), "Mine, really");
    EXPECT_EQ(err("GetNodeTypeStr", "/nowhere"), "Node '/nowhere' does not exist");
    EXPECT_EQ(err("GetNodeTypeStr", "\"/media/My folder"),
              "Malformed arguments for 'GetNodeTypeStr': expected a closing double quote");
    EXPECT_EQ(err("DestroyNode", "\"/media/clip1\" x"),
              "Malformed arguments for 'DestroyNode': expected one node identifier");
    EXPECT_EQ(err("GetNodeType", ""), "Malformed arguments for 'GetNodeType': expected a node identifier");
}

TEST_F(SimServiceTest, ChildrenListDisplayNameFirstInTheOldForm) {
    const std::string reply = ok("GetChildren", "/media");
    // A comma in a display name would shift every later pair.
    EXPECT_EQ(reply, "Clip one,/media/clip1,Mine_ really,/media/My folder");
    const auto pairs = clientChildren(reply);
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0], std::make_pair(std::string("/media/clip1"), std::string("Clip one")));
    EXPECT_EQ(pairs[1], std::make_pair(std::string("/media/My folder"), std::string("Mine_ really")));
    EXPECT_EQ(ok("GetChildren", "/empty"), "");
}

TEST_F(SimServiceTest, ChildrenExNestOneStreamPerChild) {
    const Corvane::rcAttrStream reply(ok("GetChildrenEx", "/media"));
    ASSERT_EQ(reply.count(), 2);
    Corvane::rcAttrStream::ConstIterator it(reply);
    std::vector<std::pair<std::string, std::string>> children;
    Corvane::rcAttrStream::Entry e;
    while (it.next(e)) {
        const std::string child(e.value, e.valueLen);
        children.emplace_back(valueOf(child, "Id"), valueOf(child, "Displ"));
    }
    EXPECT_EQ(children, (std::vector<std::pair<std::string, std::string>>{{"/media/clip1", "Clip one"},
                                                                          {"/media/My folder", "Mine, really"}}));
    EXPECT_EQ(ok("GetChildrenEx", "/media/My folder").size() > 0, true);
    EXPECT_EQ(ok("GetChildrenEx", "/empty"), "");
}

TEST_F(SimServiceTest, MetadataRoundTripsThroughTheClientsQuoting) {
    // node, stream, filter (empty when null), depth
    EXPECT_EQ(ok("GetMetaData", "/ info  1"), "<info><administrators>demo,admin</administrators></info>");
    EXPECT_EQ(ok("GetMetaData", nodeArg("/media/clip1") + " notes " + quote("a filter") + " 3"), "n");
    const std::string text = "<a x=\"1\">back\\slash\nnew line\ttab</a>";
    EXPECT_EQ(ok("SetMetaData", nodeArg("/media/My folder") + " review " + quote(text)), "");
    EXPECT_EQ(ok("GetMetaData", nodeArg("/media/My folder") + " review  1"), text);
    EXPECT_EQ(ok("SetMetaData", "/media/clip1 info " + quote("")), "");
    EXPECT_EQ(ok("GetMetaData", "/media/clip1 info  0"), "");
    EXPECT_EQ(ok("QueryMetaDataSupport", "/media/clip1"), "info,notes");
    EXPECT_EQ(ok("QueryMetaDataSupport", nodeArg("/media/My folder")), "review");

    EXPECT_EQ(err("GetMetaData", "/ nothing  1"), "Node '/' has no metadata stream 'nothing'");
    EXPECT_EQ(err("GetMetaData", "/x info  1"), "Node '/x' does not exist");
    EXPECT_EQ(err("GetMetaData", "/ info  deep"),
              "Malformed arguments for 'GetMetaData': expected a whole number where 'deep' is");
    EXPECT_EQ(err("GetMetaData", "/ info"), "Malformed arguments for 'GetMetaData': expected a blank between fields");
    EXPECT_EQ(err("SetMetaData", "/ info unquoted"),
              "Malformed arguments for 'SetMetaData': expected a double-quoted field");
    EXPECT_EQ(err("SetMetaData", "/ bad,name \"x\""),
              "Invalid metadata stream name 'bad,name': it must not contain blanks, commas, quotes, backslashes or "
              "control characters");
}

TEST_F(SimServiceTest, CreateNodeReadsTheOneLineForm) {
    CorvaneClipFormat format(720, 576, 24, 3, 1244160, 25.0f, 1.5f, 1, "yuv", "xml", "<m a=\"1\"/>");
    const std::string args = nodeArg("/media/My folder") + " " + quote("New \"clip\"") + " 2 CLIP " + format.toText();
    const std::string id = ok("CreateNode", args);
    EXPECT_EQ(id, "/media/My folder/New _clip_");
    EXPECT_EQ(ok("GetNodeTypeStr", nodeArg(id)), "CLIP");
    EXPECT_EQ(ok("GetNodeType", nodeArg(id)), "2 0");
    EXPECT_EQ(ok("GetDisplayName", nodeArg(id)), "New \"clip\"");
    const std::string clip = ok("GetClipFormat", nodeArg(id));
    EXPECT_EQ(clip, "720 576 24 3 1244160 1.5 25 yuv 1 xml <m a=\"1\"/>");
    CorvaneClipFormat back;
    ASSERT_TRUE(back.fromText(clip.c_str()));
    EXPECT_STREQ(back.getMetaData(), "<m a=\"1\"/>");
    EXPECT_EQ(back.getHeight(), 576);

    // The default format has empty tags: two blanks in a row on the way in,
    // "none" on the way out so that the reply still reads as ten fields.
    const std::string plain = ok("CreateNode", "/media \"Plain\" 2  " + CorvaneClipFormat().toText());
    EXPECT_EQ(ok("GetClipFormat", plain), "1 1 24 3 1 1 30 none 0 none ");
    EXPECT_EQ(ok("CreateNode", "/media \"Plain\" 1 FOLDER " + CorvaneClipFormat().toText()), "/media/Plain~2");
    EXPECT_EQ(ok("GetNodeType", "/media"), "1 4");

    EXPECT_EQ(err("CreateNode", "/media/clip1 \"x\" 1 FOLDER " + format.toText()),
              "Node '/media/clip1' is a clip and cannot have children");
    EXPECT_EQ(err("CreateNode", "/media \"\" 1 FOLDER " + format.toText()), "Display name must not be empty");
    EXPECT_EQ(err("CreateNode", "/media \"x\" one FOLDER " + format.toText()),
              "Malformed arguments for 'CreateNode': expected a whole number where 'one' is");
    EXPECT_EQ(err("CreateNode", "/media \"x\" 1 FOLDER 1 2 3"),
              "Malformed arguments for 'CreateNode': expected a blank between fields");
    EXPECT_EQ(err("CreateNode", "/media \"x\" 1 FOLDER " + format.toText() + " extra"),
              "Malformed arguments for 'CreateNode': expected the end of the text after the clip format");
}

TEST_F(SimServiceTest, CreateNodeExReadsTheStreamForm) {
    const std::string fmt = clipStream(CorvaneClipFormat());
    const std::string id =
        ok("CreateNodeEx", attrs({{"Parent", "/media/My folder"}, {"Displ", "a/b,c"}, {"Type", "1"}, {"Fmt", fmt}}));
    EXPECT_EQ(id, "/media/My folder/a_b_c");
    EXPECT_EQ(ok("GetNodeTypeStr", nodeArg(id)), "FOLDER");
    EXPECT_EQ(ok("GetDisplayNameEx", id), "a/b,c");

    const std::string bin = ok(
        "CreateNodeEx",
        attrs({{"Parent", "/media/My folder"}, {"Displ", "a/b,c"}, {"Type", "0"}, {"Fmt", fmt}, {"ExType", "BIN"}}));
    EXPECT_EQ(bin, "/media/My folder/a_b_c~2");
    EXPECT_EQ(ok("GetNodeType", nodeArg(bin)), "0 0");
    EXPECT_EQ(ok("GetNodeTypeStr", nodeArg(bin)), "BIN");

    const CorvaneClipFormat mono(64, 32, 8, 1, 2048, 50.0f, 1.0f, 4, "mono", "t", "m x");
    EXPECT_EQ(ok("CreateNodeEx", attrs({{"Parent", "/"}, {"Displ", "c"}, {"Type", "2"}, {"Fmt", clipStream(mono)}})),
              "/c");
    EXPECT_EQ(ok("GetClipFormat", "/c"), "64 32 8 1 2048 1 50 mono 4 t m x");

    const std::pair<std::string, std::string> bad[] = {
        {attrs({{"Parent", "/"}, {"Displ", "d"}, {"Type", "1"}}), "expected an attribute 'Fmt'"},
        {attrs({{"Parent", "/"}, {"Displ", "d"}, {"Type", "1"}, {"Fmt", "w 1 1"}}), "expected an attribute 'h'"},
        {attrs({{"Parent", "/"}, {"Displ", "d"}, {"Type", "folder"}, {"Fmt", "w 1 1"}}),
         "expected a whole number in 'Type' where 'folder' is"},
    };
    for (const auto& b : bad)
        EXPECT_EQ(err("CreateNodeEx", b.first), "Malformed arguments for 'CreateNodeEx': " + b.second);
}

TEST_F(SimServiceTest, DestroyRenameAndParent) {
    EXPECT_EQ(err("DestroyNode", "/media"), "Node '/media' still has 2 children");
    EXPECT_EQ(err("DestroyNode", "/"), "The root node '/' cannot be destroyed");
    EXPECT_EQ(ok("DestroyNode", nodeArg("/media/My folder/take 2")), "");
    EXPECT_EQ(err("GetNodeTypeStr", nodeArg("/media/My folder/take 2")), "Node '/media/My folder/take 2' does not exist");
    EXPECT_EQ(ok("GetChildren", nodeArg("/media/My folder")), "");
    EXPECT_EQ(ok("DestroyNode", nodeArg("/media/My folder")), "");
    EXPECT_EQ(err("DestroyNode", nodeArg("/media/My folder")), "Node '/media/My folder' does not exist");
    // A blank outside quotes is a client that forgot to quote.
    EXPECT_EQ(err("DestroyNode", "/media/My folder"),
              "Malformed arguments for 'DestroyNode': expected one node identifier");

    EXPECT_EQ(ok("RenameNode", attrs({{"Node", "/media/clip1"}, {"Displ", "Renamed, with comma"}})), "/media/clip1");
    EXPECT_EQ(ok("GetDisplayName", "/media/clip1"), "Renamed, with comma");
    EXPECT_EQ(err("RenameNode", attrs({{"Node", "/media/clip1"}, {"Displ", ""}})), "Display name must not be empty");

    EXPECT_EQ(ok("GetParentNode", attrs({{"Node", "/media/clip1"}})), "/media");
    EXPECT_EQ(err("GetParentNode", attrs({{"Node", "/"}})), "The root node '/' has no parent");
    EXPECT_EQ(ok("GetRootNode", ""), "/");
}

TEST_F(SimServiceTest, FramesInBothForms) {
    const std::string ids = ok("GetFrames", "/media/clip1");
    EXPECT_EQ(ids, "/media/clip1#0,/media/clip1#1,/media/clip1#2");
    EXPECT_EQ(decodeList(ok("GetFramesEx", attrs({{"Node", "/media/clip1"}}))),
              (std::vector<std::string>{"/media/clip1#0", "/media/clip1#1", "/media/clip1#2"}));

    const CorvaneClipFormat format(8, 8, 24, 3, 192, 24.0f, 1.0f, 4, "rgb", "none", "");
    EXPECT_EQ(ok("AllocateFrames", "/media/clip1 2 " + format.toText()), "/media/clip1#3,/media/clip1#4");
    EXPECT_EQ(ok("GetClipFormat", "/media/clip1"), "8 8 24 3 192 1 24 rgb 4 none ");
    EXPECT_EQ(decodeList(ok("AllocateFramesEx",
                            attrs({{"Node", "/media/clip1"}, {"NumFrames", "1"}, {"Fmt", clipStream(format)}}))),
              (std::vector<std::string>{"/media/clip1#5"}));

    // node, host name, OS type code, "OS version"
    const std::string paths = ok("GetFramePaths", "/media/clip1 box 2 \"unknown\"");
    EXPECT_EQ(std::count(paths.begin(), paths.end(), ','), 5);
    EXPECT_EQ(paths.substr(0, paths.find(',')), "/corvane-sim/media/clip-2/frame-000000");

    EXPECT_EQ(ok("SetFramePaths", "/media/clip1 /a/f1.dpx,/a/f2.dpx box 2 unknown " + format.toText()), "");
    EXPECT_EQ(ok("GetFramePaths", "/media/clip1 box 2 \"unknown\""), "/a/f1.dpx,/a/f2.dpx");
    EXPECT_EQ(ok("GetFrames", "/media/clip1"), "/media/clip1#6,/media/clip1#7");

    const auto setPaths = [&](const std::vector<std::string>& paths) {
        return attrs({{"Parent", "/media/My folder/take 2"}, {"Paths", stringList(paths)}, {"HostName", "box"},
                      {"OSType", "2"}, {"OSVersion", "unknown"}, {"Fmt", clipStream(format)}});
    };
    const std::string get =
        attrs({{"Parent", "/media/My folder/take 2"}, {"HostName", "box"}, {"OSType", "2"}, {"OSVersion", "unknown"}});
    EXPECT_EQ(ok("SetFramePathsEx", setPaths({"/v/with blank.exr", "/v/b,c.exr"})), "");
    EXPECT_EQ(decodeList(ok("GetFramePathsEx", get)), (std::vector<std::string>{"/v/with blank.exr", "/v/b,c.exr"}));
    EXPECT_EQ(ok("SetFramePathsEx", setPaths({})), "");
    EXPECT_EQ(ok("GetFramePathsEx", get), "0 ");

    EXPECT_EQ(err("GetFrames", "/media"), "Node '/media' is not a clip");
    EXPECT_EQ(err("AllocateFrames", "/media/clip1 0 " + format.toText()), "Frame count 0 is outside 1 to 100000");
    EXPECT_EQ(err("AllocateFrames", "/media/clip1 100001 " + format.toText()),
              "Frame count 100001 is outside 1 to 100000");
}

TEST_F(SimServiceTest, ServerLevelQueries) {
    EXPECT_EQ(ok("QueryVersion", ""), "2014 0");
    EXPECT_EQ(ok("QueryNodePlugInVersion", ""), "1 0");
    EXPECT_EQ(ok("QueryNodePlugInProduct", ""), "corvane-sim");
    EXPECT_EQ(ok("QueryNodePlugInVendor", ""), "Corvane");
    EXPECT_EQ(ok("GetStorageId", ""), "corvane-sim-OBRAN-7549");
    EXPECT_EQ(ok("GetNbReadAheads", "/media"), "2");
    EXPECT_EQ(ok("GetStreamId", "/media/clip1").rfind("corvane-sim-stream-", 0), 0u);
    EXPECT_EQ(ok("Ping", ""), "");

    const CorvaneDaemonInfo info{Corvane::rcAttrStream(ok("GetDaemonInfo", "\"\""))};
    EXPECT_EQ(info, service_.daemonInfo());
    const std::string list = ok("GetDaemonList", "");
    EXPECT_EQ(valueOf(list, "Count"), "1");
    EXPECT_EQ(CorvaneDaemonInfo(Corvane::rcAttrStream(valueOf(list, "Node0"))), service_.daemonInfo());

    EXPECT_FALSE(service_.shutdownRequested());
    EXPECT_EQ(ok("Shutdown", ""), "");
    EXPECT_TRUE(service_.shutdownRequested());
}

TEST_F(SimServiceTest, PathTranslations) {
    // "src host" src code "dst host" dst code, then each path in quotes.
    EXPECT_EQ(ok("TranslatePaths", "\"edit1\" 2 \"edit2\" 2 \"/mnt/media/a b\",\"/other\""), "/Volumes/media/a b,/other");
    EXPECT_EQ(ok("TranslatePaths", "\"x\" 2 \"y\" 3 \"/mnt/f\""), "M:/f");
    EXPECT_EQ(ok("TranslatePaths", "\"x\" 2 \"y\" 3 "), "");
    EXPECT_EQ(ok("TranslatePaths", "\"x\" 2 \"y\" 2 \"a\"b\""), "a\"b");
    EXPECT_EQ(err("TranslatePaths", "x 2 \"y\" 2 "),
              "Malformed arguments for 'TranslatePaths': expected a double-quoted field");
    EXPECT_EQ(err("TranslatePaths", "\"x\" 2 \"y\" 2 /p"),
              "Malformed arguments for 'TranslatePaths': expected double-quoted paths separated by commas");

    const std::string groups = ok("GetTranslationGroups", "");
    EXPECT_EQ(valueOf(groups, "numGroups"), "2");
    EXPECT_EQ(valueOf(groups, "0"), "studio,7,edit1,edit2");
    EXPECT_EQ(valueOf(groups, "1"), "solo,3");
    const std::string hosts = ok("GetHostTranslations", "");
    EXPECT_EQ(valueOf(hosts, "numHostTranslations"), "1");
    EXPECT_EQ(valueOf(valueOf(hosts, "0"), "dstPath"), "/Volumes/media");
    EXPECT_EQ(valueOf(valueOf(ok("GetOsTypeTranslations", ""), "0"), "dstType"), "WindowsNT");
}

TEST_F(SimServiceTest, EventRegistrationsAreRemembered) {
    auto stream = [](int port, int connection, const char* subject) {
        return attrs(
            {{"Port", std::to_string(port)}, {"Connection", std::to_string(connection)}, {"Subject", subject}});
    };
    EXPECT_EQ(ok("RegisterEvents", stream(40000, 3, "/media")), "");
    EXPECT_EQ(ok("RegisterEvents", stream(40000, 3, "/media")), "");
    EXPECT_EQ(ok("RegisterEvents", stream(40000, 4, "/media/My folder")), "");
    ASSERT_EQ(service_.registrations().size(), 2u);
    EXPECT_EQ(service_.registrations()[1].subject, "/media/My folder");
    EXPECT_EQ(ok("UnregisterEvents", stream(40000, 3, "/media")), "");
    EXPECT_EQ(ok("UnregisterEvents", stream(40000, 9, "/never")), "");
    ASSERT_EQ(service_.registrations().size(), 1u);
    EXPECT_EQ(service_.registrations()[0].connection, 4);

    EXPECT_EQ(err("RegisterEvents", stream(40000, 3, "/gone")), "Node '/gone' does not exist");
    EXPECT_EQ(err("RegisterEvents", stream(0, 3, "/")),
              "Malformed arguments for 'RegisterEvents': expected a port from 1 to 65535 in 'Port'");
    EXPECT_EQ(err("UnregisterEvents", "Port 2 10"),
              "Malformed arguments for 'UnregisterEvents': expected an attribute 'Connection'");
}

// Whatever arrives, every method answers with a reply or an error text.
TEST_F(SimServiceTest, GarbageArgumentsNeverBreakAMethod) {
    const std::string garbage[] = {
        "",           " ",       "  ",         "\"",        "\\",         "\"\\",        "/ \"",
        "/ info \"",  "a b c d", "Node 5 /me", "Node 99 x", "Node -1 ",   "Fmt 3 w 1", "/media/clip1 -5 ",
        "/media/clip1 2 1 1 24 3 1 1 30 rgb 0 none \"", "\"x\" 2 \"y\"",  std::string(100000, 'a'),
        std::string("/\0x", 3), "/media/clip1 a,b,c h 2 v 1 1 1 1 1 1 1 r 0 m \"\"",
    };
    // Broken streams are posted as errors; keep the test output readable.
    CorvaneTest::MessageLog::Scope silent(-1);
    for (const std::string& method : SimService::methodNames()) {
        if (method == "Shutdown")
            continue;
        for (const std::string& args : garbage) {
            std::string reply;
            const bool okay = service_.call(method, args, &reply);
            if (!okay) {
                EXPECT_FALSE(reply.empty()) << method << " failed without a text for: " << args.substr(0, 40);
            }
        }
    }
    EXPECT_EQ(ok("GetNodeTypeStr", "/media/clip1"), "CLIP");
}

TEST_F(SimServiceTest, UnknownMethodIsRefused) {
    EXPECT_EQ(err("GetEverything", ""), "Unknown method: GetEverything");
    EXPECT_EQ(SimService::methodNames().size(), 41u);
}

}  // namespace
}  // namespace CorvaneSim
