// The registry export format of the Linux settings store: what the registry
// editor writes must read as it is, what cannot be read must be refused as a
// whole, and what the store writes must read back the same.
#include "platform/registry_file.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace varnel {
namespace {

constexpr char kMain[] = "HKEY_CURRENT_USER\\Software\\Holvik\\VarnelRadeSdk";

// The text as UTF-16LE with a byte-order mark (the registry editor's export
// encoding); `text` holds ASCII only.
std::string Utf16(const std::string& text) {
  std::string out = "\xFF\xFE";
  for (char c : text) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

// An export made with Wine's regedit /E, as text: sorted keys, a parent key
// without values, a byte list continued over two lines, escapes in a name and
// a string, and a dword of all ones.
const std::string kEditorExport =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Holvik]\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Holvik\\VarnelRadeSdk]\r\n"
    "\"Bin\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\r\n"
    "  18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28\r\n"
    "\"Size\"=dword:00000000\r\n"
    "\"We\\\"ird\\\\name\"=\"text \\\"q\\\" \\\\ x\"\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Holvik\\VarnelRadeSdk\\Gain]\r\n"
    "\"Global\"=dword:ffffffff\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Holvik\\VarnelRadeSdk\\Size_00]\r\n"
    "\"TH\"=dword:00000800\r\n"
    "\r\n";

struct Expect {
  std::string key;  // below kMain; "" for kMain itself
  std::string name;
  std::optional<uint32_t> dword;  // nothing: no REG_DWORD of that name
};

std::optional<uint32_t> DwordOf(const RegistryFile& file, const std::string& subkey,
                                const std::string& name) {
  const std::string path = subkey.empty() ? std::string(kMain) : std::string(kMain) + "\\" + subkey;
  const RegistryFileKey* key = file.FindKey(path);
  if (key == nullptr) return std::nullopt;
  const RegistryFileValue* value = RegistryFile::FindValue(*key, name);
  if (value == nullptr || !value->isDword) return std::nullopt;
  return value->dword;
}

// Fault caught: an export of the registry editor (UTF-16 with a mark, CRLF,
// continued byte lists, escapes) or a REGEDIT4 / UTF-8 file refused or misread;
// comments, deletions, repeated sections or letter case handled otherwise than
// the editor's import does.
TEST(RegistryFileTest, ReadsWhatTheRegistryEditorWrites) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<Expect> expect;
  };
  const std::string k = std::string("[") + kMain;
  const Case cases[] = {
      {"editor export, UTF-16",
       Utf16(kEditorExport),
       {{"", "Size", 0},
        {"Gain", "Global", 0xFFFFFFFFu},
        {"Size_00", "TH", 0x800},
        {"", "Bin", {}}}},
      {"REGEDIT4 with LF line ends",
       "REGEDIT4\n\n" + k + "\\Gray]\n\"GainR1\"=dword:00000080\n",
       {{"Gray", "GainR1", 128}}},
      {"UTF-8 with a mark, comments, blanks, indentation, short and upper-case digits",
       "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n; a comment\n\n  " + k +
           "]  \n  \"Color\" = DWORD:A\n;\"Size\"=dword:5\n\"WaitTime\"=dword:7FFFFFFF\n",
       {{"", "Color", 10}, {"", "Size", {}}, {"", "WaitTime", 0x7FFFFFFF}}},
      {"deletions of a key with its subkeys and of a value",
       "REGEDIT4\n" + k + "]\n\"Size\"=dword:1\n\"Color\"=dword:2\n" + k +
           "\\Gain]\n\"Global\"=dword:3\n[-" + kMain + "\\Gain]\n\"Exposure\"=dword:4\n" + k +
           "]\n\"Size\"=-\n",
       {{"", "Size", {}}, {"", "Color", 2}, {"Gain", "Global", {}}, {"Gain", "Exposure", {}}}},
      {"repeated sections merge, later values win, names ignore case",
       "REGEDIT4\n" + k + "]\n\"Size\"=dword:1\n" + k + "\\gain]\n\"global\"=dword:5\n" +
           "[hkey_current_user\\software\\holvik\\varnelradesdk]\n\"SIZE\"=dword:2\n",
       {{"", "size", 2}, {"GAIN", "Global", 5}}},
      {"a four-byte hex(4) is a dword, other lengths and types are not",
       "REGEDIT4\n" + k +
           "]\n\"A\"=hex(4):0a,00,00,01\n\"B\"=hex(4):0a,00\n\"C\"=hex:0a,00,00,00\n" +
           "\"D\"=\"10\"\n\"E\"=hex(b):01,00,00,00,00,00,00,00\n",
       {{"", "A", 0x0100000Au}, {"", "B", {}}, {"", "C", {}}, {"", "D", {}}, {"", "E", {}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RegistryFile file;
    std::string error;
    ASSERT_TRUE(RegistryFile::Parse(c.bytes, &file, &error)) << error;
    for (const Expect& e : c.expect) EXPECT_EQ(DwordOf(file, e.key, e.name), e.dword) << e.name;
  }

  // What is not a dword is kept as written, and the implicit parent exists.
  RegistryFile file;
  std::string error;
  ASSERT_TRUE(RegistryFile::Parse(Utf16(kEditorExport), &file, &error)) << error;
  const RegistryFileKey* main = file.FindKey(kMain);
  ASSERT_NE(main, nullptr);
  const RegistryFileValue* text = RegistryFile::FindValue(*main, "We\"ird\\name");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->data, "\"text \\\"q\\\" \\\\ x\"");
  EXPECT_TRUE(file.KeyExists("HKEY_CURRENT_USER\\Software"));
  EXPECT_FALSE(file.KeyExists("HKEY_CURRENT_USER\\Software\\Holv"));
}

// Fault caught: a damaged or foreign file read in part (a reader would act on
// half a store), a crash or undefined arithmetic on it (an empty value, a
// byte-list type of eight hex digits), or an error that does not say where.
TEST(RegistryFileTest, RefusesWhatIsNotARegistryFileAsAWhole) {
  const std::string h = "Windows Registry Editor Version 5.00\r\n";
  const std::string k = std::string("[") + kMain + "]\r\n";
  struct Case {
    const char* name;
    std::string bytes;
    const char* where;  // start of the error text
  };
  const Case cases[] = {
      {"empty", "", "no header"},
      {"blank lines only", "\r\n \r\n", "no header"},
      {"another header", "Windows Registry Editor Version 4.00\r\n" + k, "line 1"},
      {"no header", k + "\"Size\"=dword:0\r\n", "line 1"},
      {"value before a key", h + "\"Size\"=dword:0\r\n", "line 2"},
      {"key not closed", h + "[HKEY_CURRENT_USER\\Software\r\n", "line 2"},
      {"unknown root", h + "[HKEY_NOWHERE\\Software]\r\n", "line 2"},
      {"empty key name part", h + "[HKEY_CURRENT_USER\\\\Software]\r\n", "line 2"},
      {"truncated in a value", h + k + "\"Size\"=dwo", "line 3"},
      {"nine hex digits", h + k + "\"Size\"=dword:000000001\r\n", "line 3"},
      {"not hex", h + k + "\"Size\"=dword:0000000g\r\n", "line 3"},
      {"no digits", h + k + "\"Size\"=dword:\r\n", "line 3"},
      {"name not quoted", h + k + "Size=dword:0\r\n", "line 3"},
      {"name without '='", h + k + "\"Size\" dword:0\r\n", "line 3"},
      {"unknown escape in a name", h + k + "\"Si\\ze\"=dword:0\r\n", "line 3"},
      {"string not closed", h + k + "\"A\"=\"text\r\n", "line 3"},
      {"text after a string", h + k + "\"A\"=\"text\" more\r\n", "line 3"},
      {"three-digit byte", h + k + "\"A\"=hex:0a,100\r\n", "line 3"},
      {"byte list continued past the end", h + k + "\"A\"=hex:0a,\\\r\n", "line 3"},
      {"unknown value form", h + k + "\"A\"=qword:1\r\n", "line 3"},
      {"nothing after '='", h + k + "\"A\"=\r\n", "line 3"},
      {"byte-list type of nine digits", h + k + "\"A\"=hex(100000000):00\r\n", "line 3"},
      {"NUL byte", h + k + std::string("\"A\"=dword:1\0\r\n", 14), "NUL"},
      {"UTF-16 cut in a character", Utf16(h + k).substr(0, 41), "UTF-16"},
      {"UTF-16 lone surrogate", Utf16(h) + std::string("\x00\xD8\x41\x00", 4), "broken"},
      {"big-endian UTF-16", "\xFE\xFF" + h, "big-endian"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RegistryFile file;
    bool created = false;
    file.CreateKey(kMain, &created);  // what a failed parse must not leave behind
    std::string error;
    EXPECT_FALSE(RegistryFile::Parse(c.bytes, &file, &error));
    EXPECT_EQ(error.rfind(c.where, 0), 0u) << error;
    EXPECT_TRUE(file.Empty());
  }

  // The widest type number a byte list can name (the registry's are 32-bit).
  RegistryFile widest;
  std::string error;
  EXPECT_TRUE(RegistryFile::Parse(h + k + "\"T\"=hex(ffffffff):00\r\n", &widest, &error)) << error;

  // Every cut of a valid file either reads or is refused, never half-read.
  const std::string valid = Utf16(kEditorExport);
  for (size_t length = 0; length < valid.size(); ++length) {
    RegistryFile file;
    std::string error;
    if (!RegistryFile::Parse(valid.substr(0, length), &file, &error)) {
      EXPECT_TRUE(file.Empty()) << length;
      EXPECT_FALSE(error.empty()) << length;
    }
  }
}

// Fault caught: the written text not reading back the same (lost values,
// wrong escapes, another type, a kept string or byte list altered), names
// beyond ASCII written in a form the registry editor would misread, names of
// an 8-bit export turned into other characters when written back.
TEST(RegistryFileTest, WrittenTextReadsBackTheSame) {
  RegistryFile ascii;
  std::string error;
  ASSERT_TRUE(RegistryFile::Parse(Utf16(kEditorExport), &ascii, &error)) << error;
  bool created = false;
  const std::string gray = std::string(kMain) + "\\Gray";
  EXPECT_TRUE(RegistryFile::SetDword(ascii.CreateKey(gray, &created), "Offset \"R\"",
                                     static_cast<uint32_t>(-7)));
  EXPECT_FALSE(
      RegistryFile::SetDword(*ascii.FindKey(gray), "offset \"r\"", static_cast<uint32_t>(-7)))
      << "an unchanged value is no change";
  RegistryFile wide = ascii;
  RegistryFile::SetDword(wide.CreateKey(std::string(kMain) + "\\Gr\xC3\xBC\xC3\x9F", &created),
                         "Na\xC3\xAFve", 9);
  // An old-format export in an 8-bit code page: its bytes are no UTF-8.
  RegistryFile eightBit;
  ASSERT_TRUE(
      RegistryFile::Parse("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Caf\xE9]\r\n"
                          "\"Ma\xDF\"=dword:00000007\r\n\"\x83J\x83\x81\x83\x89\"=\"\xFC\"\r\n",
                          &eightBit, &error))
      << error;

  struct Case {
    const char* name;
    const RegistryFile* file;
    std::string start;
  };
  const Case cases[] = {{"ASCII", &ascii, "Windows Registry Editor Version 5.00\r\n"},
                        {"UTF-16", &wide, "\xFF\xFE"},
                        {"8-bit", &eightBit, "REGEDIT4\r\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RegistryFile* file = c.file;
    const std::string text = file->Format();
    EXPECT_EQ(text.substr(0, c.start.size()), c.start);
    RegistryFile again;
    ASSERT_TRUE(RegistryFile::Parse(text, &again, &error)) << error;
    ASSERT_EQ(again.Keys().size(), file->Keys().size());
    for (size_t k = 0; k < file->Keys().size(); ++k) {
      const RegistryFileKey& a = file->Keys()[k];
      const RegistryFileKey& b = again.Keys()[k];
      EXPECT_EQ(a.path, b.path);
      ASSERT_EQ(a.values.size(), b.values.size()) << a.path;
      for (size_t v = 0; v < a.values.size(); ++v) {
        EXPECT_EQ(a.values[v].name, b.values[v].name);
        EXPECT_EQ(a.values[v].isDword, b.values[v].isDword);
        EXPECT_EQ(a.values[v].dword, b.values[v].dword);
        EXPECT_EQ(a.values[v].data, b.values[v].data);
      }
    }
  }
}

}  // namespace
}  // namespace varnel
