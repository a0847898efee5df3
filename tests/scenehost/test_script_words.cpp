// Argument words and script lines: how text becomes values and words.
#include <gtest/gtest.h>

#include "message_text.h"
#include "script_words.h"

using scenehost::ParseWord;
using scenehost::ScriptLine;
using scenehost::ScriptReader;
using scenehost::ShownText;
using scenehost::SplitScript;
using scenehost::SplitWords;
using XSI::CValue;

namespace {

std::string Kind(const std::string& word) {
  return XSI::CString(ParseWord(word).GetTypeName()).GetUtf8String();
}

std::vector<std::string> Words(const std::string& line) {
  auto r = SplitWords(line);
  EXPECT_TRUE(r.Ok()) << line << ": " << r.error;
  return r.words;
}

using W = std::vector<std::string>;

}  // namespace

TEST(ParseWord, WholeNumbersAreInts) {
  for (const char* w : {"0", "42", "-7", "+3", "007", "2147483647", "-2147483648"}) {
    EXPECT_EQ(Kind(w), "int") << w;
  }
  EXPECT_EQ(ParseWord("-7").GetAsInt(), -7);
  EXPECT_EQ(ParseWord("+3").GetAsInt(), 3);
  EXPECT_EQ(ParseWord("007").GetAsInt(), 7);
  EXPECT_EQ(ParseWord("-2147483648").GetAsInt(), -2147483647 - 1);
}

TEST(ParseWord, WholeNumbersBeyondIntRangeKeepTheirValueAsDoubles) {
  EXPECT_EQ(Kind("2147483648"), "double");
  EXPECT_DOUBLE_EQ(ParseWord("2147483648").GetAsDouble(), 2147483648.0);
  EXPECT_EQ(Kind("-99999999999"), "double");
  EXPECT_DOUBLE_EQ(ParseWord("-99999999999").GetAsDouble(), -99999999999.0);
}

TEST(ParseWord, DecimalAndExponentNumbersAreDoubles) {
  for (const char* w : {"1.5", "-0.25", ".5", "5.", "1e3", "2.5E-2", "+1.0", "-1e+2"}) {
    EXPECT_EQ(Kind(w), "double") << w;
  }
  EXPECT_DOUBLE_EQ(ParseWord("-0.25").GetAsDouble(), -0.25);
  EXPECT_DOUBLE_EQ(ParseWord(".5").GetAsDouble(), 0.5);
  EXPECT_DOUBLE_EQ(ParseWord("2.5E-2").GetAsDouble(), 0.025);
  EXPECT_DOUBLE_EQ(ParseWord("-1e+2").GetAsDouble(), -100.0);
}

TEST(ParseWord, TrueAndFalseAreBools) {
  EXPECT_EQ(Kind("true"), "bool");
  EXPECT_EQ(Kind("false"), "bool");
  EXPECT_TRUE(ParseWord("true").GetAsBool());
  EXPECT_FALSE(ParseWord("false").GetAsBool());
}

TEST(ParseWord, EverythingElseIsText) {
  for (const char* w : {"", "abc", "True", "FALSE", "1.2.3", "1e", "e5", ".", "-", "+", "0x10",
                        "inf", "nan", "1,5", "12abc", " 1", "1e999", "home/builder/x.obj"}) {
    EXPECT_EQ(Kind(w), "text") << "'" << w << "'";
  }
  EXPECT_EQ(ParseWord("12abc").GetAsText().GetUtf8String(), "12abc");
  EXPECT_EQ(ParseWord("h\xc3\xa9").GetAsText().GetUtf8String(), "h\xc3\xa9");  // UTF-8 kept
}

TEST(SplitWords, BlanksSeparateWords) {
  EXPECT_EQ(Words("Duplicate cube"), (W{"Duplicate", "cube"}));
  EXPECT_EQ(Words("  a \t b  "), (W{"a", "b"}));
  EXPECT_EQ(Words("a b\r"), (W{"a", "b"}));  // a CRLF file reads the same
  EXPECT_EQ(Words(""), W{});
  EXPECT_EQ(Words("   "), W{});
}

TEST(SplitWords, QuotesJoinAndKeepText) {
  EXPECT_EQ(Words("say 'two words'"), (W{"say", "two words"}));
  EXPECT_EQ(Words("say \"two words\""), (W{"say", "two words"}));
  EXPECT_EQ(Words("'' \"\""), (W{"", ""}));  // empty words survive
  EXPECT_EQ(Words("a'b c'\"d\"e"), (W{"ab cde"}));
  EXPECT_EQ(Words("'a\\b'"), (W{"a\\b"}));  // nothing escapes in single quotes
  EXPECT_EQ(Words("'# not a comment'"), (W{"# not a comment"}));
  EXPECT_EQ(Words("\"it's\""), (W{"it's"}));
}

TEST(SplitWords, BackslashesEscape) {
  EXPECT_EQ(Words("a\\ b"), (W{"a b"}));
  EXPECT_EQ(Words("\\'x"), (W{"'x"}));
  EXPECT_EQ(Words("\"say \\\"hi\\\" \\\\ \\$x\""), (W{"say \"hi\" \\ $x"}));
  // In double quotes a backslash before anything else stays, as in a shell:
  // Windows-style paths survive.
  EXPECT_EQ(Words("\"home\\builder\\objs\""), (W{"home\\builder\\objs"}));
}

TEST(SplitWords, HashStartsACommentOnlyAtAWordStart) {
  EXPECT_EQ(Words("# whole line"), W{});
  EXPECT_EQ(Words("echo a # rest"), (W{"echo", "a"}));
  EXPECT_EQ(Words("echo a#b"), (W{"echo", "a#b"}));
  EXPECT_EQ(Words("echo \\#b"), (W{"echo", "#b"}));
}

TEST(SplitWords, MalformedLinesAreRefusedWithAReason) {
  EXPECT_EQ(SplitWords("say 'open").error, "unterminated single quote");
  EXPECT_EQ(SplitWords("say \"open").error, "unterminated double quote");
  EXPECT_EQ(SplitWords("say \"open\\\"").error, "unterminated double quote");
  EXPECT_EQ(SplitWords("trailing \\").error, "backslash at the end of the line");
}

TEST(SplitScript, KeepsLineNumbersAndSkipsBlankAndCommentLines) {
  auto r = SplitScript("# header\n\nObjImport a.obj\n   \nDuplicate a # copy\nlast");
  ASSERT_TRUE(r.Ok());
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(r.lines[0].number, 3);
  EXPECT_EQ(r.lines[0].words, (W{"ObjImport", "a.obj"}));
  EXPECT_EQ(r.lines[1].number, 5);
  EXPECT_EQ(r.lines[1].words, (W{"Duplicate", "a"}));
  EXPECT_EQ(r.lines[2].number, 6);  // no newline at the end
  EXPECT_EQ(r.lines[2].words, (W{"last"}));
}

TEST(SplitScript, CrLfAndEmptyText) {
  auto r = SplitScript("a 1\r\nb 2\r\n");
  ASSERT_TRUE(r.Ok());
  ASSERT_EQ(r.lines.size(), 2u);
  EXPECT_EQ(r.lines[1].words, (W{"b", "2"}));
  EXPECT_TRUE(SplitScript("").lines.empty());
  EXPECT_TRUE(SplitScript("\n\n").lines.empty());
}

TEST(SplitScript, ReportsTheFirstMalformedLine) {
  auto r = SplitScript("ok 1\nok 2\nbad 'quote\nbad \"again");
  EXPECT_FALSE(r.Ok());
  EXPECT_EQ(r.errorLine, 3);
  EXPECT_EQ(r.error, "unterminated single quote");
}

TEST(SplitScript, SkipsAByteOrderMarkOnlyAtTheStart) {
  auto r = SplitScript("\xEF\xBB\xBFNewScene\n\xEF\xBB\xBFNewScene\n");
  ASSERT_TRUE(r.Ok()) << r.error;
  ASSERT_EQ(r.lines.size(), 2u);
  EXPECT_EQ(r.lines[0].words, (W{"NewScene"}));
  EXPECT_EQ(r.lines[1].words, (W{"\xEF\xBB\xBFNewScene"})) << "inside the text it is a character";
  EXPECT_TRUE(SplitScript("\xEF\xBB\xBF").lines.empty());
}

TEST(SplitScript, RefusesNulBytesAndOverlongLinesNamingTheLine) {
  auto r = SplitScript(std::string("ok\nok 'a\0b'\n", 12));
  EXPECT_EQ(r.errorLine, 2);
  EXPECT_EQ(r.error, "the line holds a NUL byte (column 6); a script is text");

  const std::string longest(scenehost::kMaxLineBytes, 'a');
  EXPECT_TRUE(SplitScript("x\n" + longest + "\n").Ok());
  r = SplitScript("x\n" + longest + "a\ny\n");
  EXPECT_EQ(r.errorLine, 2);
  EXPECT_EQ(r.error, "the line is 1048577 bytes long; a line may hold at most 1048576");
}

TEST(ScriptReader, GivesTheLinesOneAtATimeAndStopsAtAMalformedOne) {
  ScriptReader reader("# c\na 1\n\nb 'x y'\nc 'open\nd\n");
  ScriptLine line;
  ASSERT_TRUE(reader.Next(line));
  EXPECT_EQ(line.number, 2);
  EXPECT_EQ(line.words, (W{"a", "1"}));
  ASSERT_TRUE(reader.Next(line));
  EXPECT_EQ(line.number, 4);
  EXPECT_EQ(line.words, (W{"b", "x y"}));
  EXPECT_FALSE(reader.Next(line));
  EXPECT_FALSE(reader.Ok());
  EXPECT_EQ(reader.ErrorLine(), 5);
  EXPECT_EQ(reader.Error(), "unterminated single quote");
  EXPECT_FALSE(reader.Next(line)) << "it stays stopped";

  ScriptReader clean("a\nb");
  EXPECT_TRUE(clean.Next(line) && clean.Next(line));
  EXPECT_FALSE(clean.Next(line));
  EXPECT_TRUE(clean.Ok());
}

TEST(ShownText, KeepsPrintableTextAndWellFormedUtf8) {
  EXPECT_EQ(ShownText("home\\builder 'x' h\xc3\xa9 \xe2\x82\xac \xf0\x9f\x99\x82"),
            "home\\builder 'x' h\xc3\xa9 \xe2\x82\xac \xf0\x9f\x99\x82");
  EXPECT_EQ(ShownText(""), "");
}

TEST(ShownText, SpellsOutControlBytesAndMalformedUtf8) {
  EXPECT_EQ(ShownText("a\nb\rc\td"), "a\\nb\\rc\\td");
  EXPECT_EQ(ShownText(std::string("\0\x07\x1b[31m\x7f", 8)), "\\x00\\x07\\x1B[31m\\x7F");
  EXPECT_EQ(ShownText("\xff\xfe"), "\\xFF\\xFE");
  EXPECT_EQ(ShownText("\x80x"), "\\x80x") << "stray continuation byte";
  EXPECT_EQ(ShownText("\xc0\xaf"), "\\xC0\\xAF") << "overlong '/'";
  EXPECT_EQ(ShownText("\xed\xa0\x80"), "\\xED\\xA0\\x80") << "surrogate";
  EXPECT_EQ(ShownText("\xf4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80") << "past U+10FFFF";
  EXPECT_EQ(ShownText("ab\xe2\x82"), "ab\\xE2\\x82") << "cut-off sequence";
  EXPECT_EQ(ShownText("\xc2\x9b"
                      "2J \xe2\x80\xae"
                      "cba"),
            "\\u009B2J \\u202Ecba")
      << "C1 and bidi controls";
}

TEST(ShownText, CutsLongTextSayingHowMuchIsLeftOut) {
  const std::string shown = ShownText(std::string(1000, 'x'));
  EXPECT_EQ(shown, std::string(200, 'x') + "... (800 more bytes)");
  EXPECT_EQ(ShownText(std::string(200, 'x')), std::string(200, 'x'));
  // Never inside an escape or a character.
  EXPECT_EQ(ShownText("abc\x01", 5), "abc... (1 more byte)");
  EXPECT_EQ(ShownText("ab\xc3\xa9", 3), "ab... (2 more bytes)");
  EXPECT_LE(ShownText(std::string(5000, '\x01')).size(),
            scenehost::kShownWordBytes + scenehost::kCutNoteBytes);
}
