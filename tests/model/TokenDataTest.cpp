// The model's record colour Token_Data: construction, copies, text form,
// accessors and reading tokens from the marking file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "Token_Data.h"
#include "app/MainClass.h"
#include "core/Place.h"
#include "platform/Logging.h"
#include "support/TestNet.h"
#include "support/TestSupport.h"

using ReferenceCountedSmartPointer::Dynamic_Cast;
using testnet::TestNet;
using testnet::TestTransition;
using testsupport::CaptureStream;
using testsupport::ScopedCwd;
using testsupport::TempDir;

namespace {

const char* const kDefaultContent = "{n=\"\"; s=0; l=0; gT=00:00:00@01/01/0001; d=0; ood=0; tL=0; gL=0}";

void setAll(Token_Data& t) {
    t.set_n("a \"quoted\" name");
    t.set_s(-3);
    t.set_l(1234567890123L);
    t.set_gT(DateTime("23:59:58@12/31/1999"));
    t.set_d(true);
    t.set_ood(true);
    t.set_tL(2);
    t.set_gL(9);
}

const char* const kAllSetContent =
    "{n=\"a \"quoted\" name\"; s=-3; l=1234567890123; gT=23:59:58@12/31/1999; d=1; ood=1; tL=2; gL=9}";

}  // namespace

// ---------------------------------------------------------------------------
// Construction, copies and text form

TEST(TokenData, DefaultTokenHasDefaultAttributesAndAFreshIdentifier) {
    Token_Data a;
    Token_Data b;
    EXPECT_EQ(a.getName(), "Data");
    EXPECT_EQ(a.content(), kDefaultContent);
    EXPECT_EQ(a.get_n(), "");
    EXPECT_EQ(a.get_s(), 0);
    EXPECT_EQ(a.get_l(), 0);
    EXPECT_EQ(a.get_gT().FullDateTime(), DateTime().FullDateTime());
    EXPECT_EQ(a.get_gT().FullDateTime(), 86400.0);
    EXPECT_FALSE(a.get_d());
    EXPECT_FALSE(a.get_ood());
    EXPECT_EQ(a.get_tL(), 0);
    EXPECT_EQ(a.get_gL(), 0);
    EXPECT_NE(a.getID(), b.getID());
    EXPECT_FALSE(a == b);
    EXPECT_TRUE(a.getTransitions().empty());
}

TEST(TokenData, ContentShowsEveryAttributeInOrder) {
    Token_Data t;
    setAll(t);
    EXPECT_EQ(t.content(), kAllSetContent);
    EXPECT_EQ(t.get_n(), "a \"quoted\" name");
    EXPECT_EQ(t.get_s(), -3);
    EXPECT_EQ(t.get_l(), 1234567890123L);
    EXPECT_EQ(t.get_gT().toString(), "23:59:58@12/31/1999");
    EXPECT_TRUE(t.get_d());
    EXPECT_TRUE(t.get_ood());
    EXPECT_EQ(t.get_tL(), 2);
    EXPECT_EQ(t.get_gL(), 9);
    // Content can be asked again (the re-entry guard is released).
    EXPECT_EQ(t.content(), kAllSetContent);
    EXPECT_EQ(Token_Data().content(), kDefaultContent);
}

TEST(TokenData, CopyKeepsIdentityAndAttributesAndOptionallyTheTransitions) {
    TestNet net;
    TestTransition holder(1, "holder", &net);
    Token_Data original;
    setAll(original);
    original.addTransition(&holder);

    Token_Data plain(original, false);
    EXPECT_EQ(plain.getID(), original.getID());
    EXPECT_EQ(plain.getTimeStamp().FullDateTime(), original.getTimeStamp().FullDateTime());
    EXPECT_EQ(plain.content(), kAllSetContent);
    EXPECT_TRUE(plain.getTransitions().empty());
    EXPECT_TRUE(plain == original);

    Token_Data withTransitions(original, true);
    EXPECT_EQ(withTransitions.getID(), original.getID());
    EXPECT_EQ(withTransitions.content(), kAllSetContent);
    EXPECT_EQ(withTransitions.getTransitions(), Token::TransitionList{&holder});

    // The copy is independent of its source.
    plain.set_tL(1);
    EXPECT_EQ(original.get_tL(), 2);
    original.removeTransition(&holder);
    withTransitions.removeTransition(&holder);
}

TEST(TokenData, AssignmentCopiesEverythingAndSurvivesSelfAssignment) {
    Token_Data source;
    setAll(source);
    Token_Data target;
    target = source;
    EXPECT_EQ(target.getID(), source.getID());
    EXPECT_EQ(target.content(), kAllSetContent);
    Token_Data& alias = target;
    target = alias;
    EXPECT_EQ(target.content(), kAllSetContent);
    EXPECT_EQ(target.getID(), source.getID());
}

TEST(TokenData, SettersWriteNothingToTheTokenLogWhileItIsOff) {
    TempDir dir;
    Logging* log = MainClass::getLog();
    ASSERT_FALSE(log->isTokenLogging());
    // Even an open token-log stream receives nothing while the switch is off.
    const std::string path = dir.file("token.log");
    log->getTokenLog().open(path, std::ios::out | std::ios::trunc);
    ASSERT_TRUE(log->getTokenLog().is_open());
    Token_Data t;
    t.set_ood(true);
    t.set_tL(1);
    t.set_n("x");
    log->getTokenLog().close();
    log->getTokenLog().clear();
    EXPECT_EQ(dir.read("token.log"), "");
    EXPECT_TRUE(t.get_ood());
    EXPECT_EQ(t.get_tL(), 1);
    EXPECT_EQ(t.get_n(), "x");
}

// ---------------------------------------------------------------------------
// Reading tokens from the marking file

TEST(TokenData, AddInitialTokensReadsTheElementsOfItsPlace) {
    TempDir dir;
    dir.write("marking.xml",
              "<?xml version=\"1.0\"?>\n"
              "<marking>\n"
              "  <token place=\"Jobs\" n=\"first job\" s=\"12abc\" l=\" -7\" gT=\"10:20:30@02/03/2004\""
              " d=\"True\" ood=\"true\" tL=\"+3\" gL=\"x1\"/>\n"
              "  <token place=\"jobs\" n=\"wrong case\"/>\n"
              "  <group><deeper>\n"
              "    <token place=\"Jobs\" n=\"second\" gT=\"01:02:03@04/05/2006\" d=\"true\" ood=\"TRUE\"/>\n"
              "  </deeper></group>\n"
              "  <token place=\"Other\" n=\"elsewhere\" gT=\"01:02:03@04/05/2006\"/>\n"
              "</marking>\n");
    ScopedCwd cwd(dir.path());
    TestNet net;
    Place place(1, "Jobs", &net, false, 0);
    CaptureStream out(std::cout);
    Token_Data::addInitialTokens(&place);
    EXPECT_EQ(out.text(), "");
    ASSERT_EQ(place.getMarkingSize(), 2);

    Ptr<Token_Data> first = Dynamic_Cast<Token_Data>(place.getFullMarking().front());
    ASSERT_TRUE(first != 0);
    EXPECT_EQ(first->get_n(), "first job");
    EXPECT_EQ(first->get_s(), 12);
    EXPECT_EQ(first->get_l(), -7);
    EXPECT_EQ(first->get_gT().toString(), "10:20:30@02/03/2004");
    EXPECT_FALSE(first->get_d());
    EXPECT_TRUE(first->get_ood());
    EXPECT_EQ(first->get_tL(), 3);
    EXPECT_EQ(first->get_gL(), 0);

    Ptr<Token_Data> second = Dynamic_Cast<Token_Data>(place.getFullMarking().back());
    ASSERT_TRUE(second != 0);
    EXPECT_EQ(second->content(), "{n=\"second\"; s=0; l=0; gT=01:02:03@04/05/2006; d=1; ood=0; tL=0; gL=0}");
    EXPECT_NE(first->getID(), second->getID());
}

TEST(TokenData, ATooShortTimeKeepsTheDefaultWithOneWarning) {
    TempDir dir;
    dir.write("marking.xml",
              "<marking>\n"
              "  <token place=\"Jobs\" n=\"short\" s=\"4\" gT=\"10:20:30@02/03\"/>\n"
              "  <token place=\"Jobs\" gT=\"10:20:30@02/03/7\"/>\n"
              "</marking>\n");
    ScopedCwd cwd(dir.path());
    TestNet net;
    Place place(1, "Jobs", &net, false, 0);
    CaptureStream out(std::cout);
    Token_Data::addInitialTokens(&place);
    // 14 characters are too few for a time; a longer text is read.
    EXPECT_EQ(out.text(),
              "Warning: token element for place \"Jobs\": attribute gT \"10:20:30@02/03\" is not a time, "
              "keeping the default\n");
    ASSERT_EQ(place.getMarkingSize(), 2);
    Ptr<Token_Data> shortOne = Dynamic_Cast<Token_Data>(place.getFullMarking().front());
    EXPECT_EQ(shortOne->content(), "{n=\"short\"; s=4; l=0; gT=00:00:00@01/01/0001; d=0; ood=0; tL=0; gL=0}");
    Ptr<Token_Data> longer = Dynamic_Cast<Token_Data>(place.getFullMarking().back());
    EXPECT_NE(longer->get_gT().FullDateTime(), DateTime().FullDateTime());
}

TEST(TokenData, AnElementWithoutAttributesGivesADefaultToken) {
    TempDir dir;
    dir.write("marking.xml", "<marking><token place=\"Jobs\"/></marking>\n");
    ScopedCwd cwd(dir.path());
    TestNet net;
    Place place(1, "Jobs", &net, false, 0);
    CaptureStream out(std::cout);
    Token_Data::addInitialTokens(&place);
    ASSERT_EQ(place.getMarkingSize(), 1);
    EXPECT_EQ(place.getFullMarking().front()->content(), kDefaultContent);
    // An absent time is an empty text, too short to be a time.
    EXPECT_EQ(out.text(),
              "Warning: token element for place \"Jobs\": attribute gT \"\" is not a time, keeping the default\n");
}
