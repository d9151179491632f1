#include "settings/XmlTables.h"

#include <QHash>
#include <QString>

namespace {

struct NamedEntity
{
    const char16_t* name;
    int codePoint;
};

// The 252 character entity references of HTML 4.
constexpr NamedEntity kNamedEntities[] = {
    {u"AElig", 198},   {u"Aacute", 193},  {u"Acirc", 194},   {u"Agrave", 192},  {u"Alpha", 913},
    {u"Aring", 197},   {u"Atilde", 195},  {u"Auml", 196},    {u"Beta", 914},    {u"Ccedil", 199},
    {u"Chi", 935},     {u"Dagger", 8225}, {u"Delta", 916},   {u"ETH", 208},     {u"Eacute", 201},
    {u"Ecirc", 202},   {u"Egrave", 200},  {u"Epsilon", 917}, {u"Eta", 919},     {u"Euml", 203},
    {u"Gamma", 915},   {u"Iacute", 205},  {u"Icirc", 206},   {u"Igrave", 204},  {u"Iota", 921},
    {u"Iuml", 207},    {u"Kappa", 922},   {u"Lambda", 923},  {u"Mu", 924},      {u"Ntilde", 209},
    {u"Nu", 925},      {u"OElig", 338},   {u"Oacute", 211},  {u"Ocirc", 212},   {u"Ograve", 210},
    {u"Omega", 937},   {u"Omicron", 927}, {u"Oslash", 216},  {u"Otilde", 213},  {u"Ouml", 214},
    {u"Phi", 934},     {u"Pi", 928},      {u"Prime", 8243},  {u"Psi", 936},     {u"Rho", 929},
    {u"Scaron", 352},  {u"Sigma", 931},   {u"THORN", 222},   {u"Tau", 932},     {u"Theta", 920},
    {u"Uacute", 218},  {u"Ucirc", 219},   {u"Ugrave", 217},  {u"Upsilon", 933}, {u"Uuml", 220},
    {u"Xi", 926},      {u"Yacute", 221},  {u"Yuml", 376},    {u"Zeta", 918},    {u"aacute", 225},
    {u"acirc", 226},   {u"acute", 180},   {u"aelig", 230},   {u"agrave", 224},  {u"alefsym", 8501},
    {u"alpha", 945},   {u"amp", 38},      {u"and", 8743},    {u"ang", 8736},    {u"aring", 229},
    {u"asymp", 8776},  {u"atilde", 227},  {u"auml", 228},    {u"bdquo", 8222},  {u"beta", 946},
    {u"brvbar", 166},  {u"bull", 8226},   {u"cap", 8745},    {u"ccedil", 231},  {u"cedil", 184},
    {u"cent", 162},    {u"chi", 967},     {u"circ", 710},    {u"clubs", 9827},  {u"cong", 8773},
    {u"copy", 169},    {u"crarr", 8629},  {u"cup", 8746},    {u"curren", 164},  {u"dArr", 8659},
    {u"dagger", 8224}, {u"darr", 8595},   {u"deg", 176},     {u"delta", 948},   {u"diams", 9830},
    {u"divide", 247},  {u"eacute", 233},  {u"ecirc", 234},   {u"egrave", 232},  {u"empty", 8709},
    {u"emsp", 8195},   {u"ensp", 8194},   {u"epsilon", 949}, {u"equiv", 8801},  {u"eta", 951},
    {u"eth", 240},     {u"euml", 235},    {u"euro", 8364},   {u"exist", 8707},  {u"fnof", 402},
    {u"forall", 8704}, {u"frac12", 189},  {u"frac14", 188},  {u"frac34", 190},  {u"frasl", 8260},
    {u"gamma", 947},   {u"ge", 8805},     {u"gt", 62},       {u"hArr", 8660},   {u"harr", 8596},
    {u"hearts", 9829}, {u"hellip", 8230}, {u"iacute", 237},  {u"icirc", 238},   {u"iexcl", 161},
    {u"igrave", 236},  {u"image", 8465},  {u"infin", 8734},  {u"int", 8747},    {u"iota", 953},
    {u"iquest", 191},  {u"isin", 8712},   {u"iuml", 239},    {u"kappa", 954},   {u"lArr", 8656},
    {u"lambda", 955},  {u"lang", 9001},   {u"laquo", 171},   {u"larr", 8592},   {u"lceil", 8968},
    {u"ldquo", 8220},  {u"le", 8804},     {u"lfloor", 8970}, {u"lowast", 8727}, {u"loz", 9674},
    {u"lrm", 8206},    {u"lsaquo", 8249}, {u"lsquo", 8216},  {u"lt", 60},       {u"macr", 175},
    {u"mdash", 8212},  {u"micro", 181},   {u"middot", 183},  {u"minus", 8722},  {u"mu", 956},
    {u"nabla", 8711},  {u"nbsp", 160},    {u"ndash", 8211},  {u"ne", 8800},     {u"ni", 8715},
    {u"not", 172},     {u"notin", 8713},  {u"nsub", 8836},   {u"ntilde", 241},  {u"nu", 957},
    {u"oacute", 243},  {u"ocirc", 244},   {u"oelig", 339},   {u"ograve", 242},  {u"oline", 8254},
    {u"omega", 969},   {u"omicron", 959}, {u"oplus", 8853},  {u"or", 8744},     {u"ordf", 170},
    {u"ordm", 186},    {u"oslash", 248},  {u"otilde", 245},  {u"otimes", 8855}, {u"ouml", 246},
    {u"para", 182},    {u"part", 8706},   {u"permil", 8240}, {u"perp", 8869},   {u"phi", 966},
    {u"pi", 960},      {u"piv", 982},     {u"plusmn", 177},  {u"pound", 163},   {u"prime", 8242},
    {u"prod", 8719},   {u"prop", 8733},   {u"psi", 968},     {u"quot", 34},     {u"rArr", 8658},
    {u"radic", 8730},  {u"rang", 9002},   {u"raquo", 187},   {u"rarr", 8594},   {u"rceil", 8969},
    {u"rdquo", 8221},  {u"real", 8476},   {u"reg", 174},     {u"rfloor", 8971}, {u"rho", 961},
    {u"rlm", 8207},    {u"rsaquo", 8250}, {u"rsquo", 8217},  {u"sbquo", 8218},  {u"scaron", 353},
    {u"sdot", 8901},   {u"sect", 167},    {u"shy", 173},     {u"sigma", 963},   {u"sigmaf", 962},
    {u"sim", 8764},    {u"spades", 9824}, {u"sub", 8834},    {u"sube", 8838},   {u"sum", 8721},
    {u"sup", 8835},    {u"sup1", 185},    {u"sup2", 178},    {u"sup3", 179},    {u"supe", 8839},
    {u"szlig", 223},   {u"tau", 964},     {u"there4", 8756}, {u"theta", 952},   {u"thetasym", 977},
    {u"thinsp", 8201}, {u"thorn", 254},   {u"tilde", 732},   {u"times", 215},   {u"trade", 8482},
    {u"uArr", 8657},   {u"uacute", 250},  {u"uarr", 8593},   {u"ucirc", 251},   {u"ugrave", 249},
    {u"uml", 168},     {u"upsih", 978},   {u"upsilon", 965}, {u"uuml", 252},    {u"weierp", 8472},
    {u"xi", 958},      {u"yacute", 253},  {u"yen", 165},     {u"yuml", 255},    {u"zeta", 950},
    {u"zwj", 8205},    {u"zwnj", 8204},
};

struct EncodingAlias
{
    const char* name;
    int codePage;
};

// IANA character-set names and the aliases in common use, lower case.
constexpr EncodingAlias kEncodingAliases[] = {
    {"utf-8", 65001},
    {"utf8", 65001},
    {"unicode-1-1-utf-8", 65001},
    {"unicode-2-0-utf-8", 65001},
    {"x-unicode20utf8", 65001},
    {"utf-7", 65000},
    {"utf7", 65000},
    {"unicode-1-1-utf-7", 65000},
    {"csunicode11utf7", 65000},
    {"x-unicode20utf7", 65000},
    {"utf-16", 1200},
    {"utf-16le", 1200},
    {"utf16", 1200},
    {"unicode", 1200},
    {"ucs-2", 1200},
    {"iso-10646-ucs-2", 1200},
    {"csunicode", 1200},
    {"utf-16be", 1201},
    {"unicodefffe", 1201},
    {"utf-32", 12000},
    {"utf-32le", 12000},
    {"utf32", 12000},
    {"utf-32be", 12001},
    {"us-ascii", 20127},
    {"ascii", 20127},
    {"us", 20127},
    {"iso646-us", 20127},
    {"iso-ir-6", 20127},
    {"iso-ir-6us", 20127},
    {"ansi_x3.4-1968", 20127},
    {"ansi_x3.4-1986", 20127},
    {"cp367", 20127},
    {"ibm367", 20127},
    {"csascii", 20127},
    {"iso_646.irv:1991", 20127},
    {"iso-8859-1", 28591},
    {"iso8859-1", 28591},
    {"iso_8859-1", 28591},
    {"iso_8859-1:1987", 28591},
    {"latin1", 28591},
    {"l1", 28591},
    {"iso-ir-100", 28591},
    {"csisolatin1", 28591},
    {"cp819", 28591},
    {"ibm819", 28591},
    {"iso-8859-2", 28592},
    {"iso8859-2", 28592},
    {"iso_8859-2", 28592},
    {"latin2", 28592},
    {"l2", 28592},
    {"iso-ir-101", 28592},
    {"csisolatin2", 28592},
    {"iso-8859-3", 28593},
    {"iso_8859-3", 28593},
    {"latin3", 28593},
    {"l3", 28593},
    {"csisolatin3", 28593},
    {"iso-8859-4", 28594},
    {"iso_8859-4", 28594},
    {"latin4", 28594},
    {"l4", 28594},
    {"csisolatin4", 28594},
    {"iso-8859-5", 28595},
    {"iso_8859-5", 28595},
    {"cyrillic", 28595},
    {"csisolatincyrillic", 28595},
    {"iso-8859-6", 28596},
    {"iso_8859-6", 28596},
    {"arabic", 28596},
    {"csisolatinarabic", 28596},
    {"iso-8859-7", 28597},
    {"iso_8859-7", 28597},
    {"greek", 28597},
    {"greek8", 28597},
    {"csisolatingreek", 28597},
    {"iso-8859-8", 28598},
    {"iso_8859-8", 28598},
    {"hebrew", 28598},
    {"csisolatinhebrew", 28598},
    {"iso-8859-8-i", 38598},
    {"iso-8859-9", 28599},
    {"iso_8859-9", 28599},
    {"latin5", 28599},
    {"l5", 28599},
    {"csisolatin5", 28599},
    {"iso-8859-13", 28603},
    {"iso-8859-15", 28605},
    {"iso_8859-15", 28605},
    {"latin-9", 28605},
    {"latin9", 28605},
    {"l9", 28605},
    {"windows-1250", 1250},
    {"x-cp1250", 1250},
    {"cp1250", 1250},
    {"windows-1251", 1251},
    {"x-cp1251", 1251},
    {"cp1251", 1251},
    {"windows-1252", 1252},
    {"x-ansi", 1252},
    {"cp1252", 1252},
    {"windows-1253", 1253},
    {"cp1253", 1253},
    {"windows-1254", 1254},
    {"cp1254", 1254},
    {"windows-1255", 1255},
    {"cp1255", 1255},
    {"windows-1256", 1256},
    {"cp1256", 1256},
    {"windows-1257", 1257},
    {"cp1257", 1257},
    {"windows-1258", 1258},
    {"cp1258", 1258},
    {"windows-874", 874},
    {"cp874", 874},
    {"tis-620", 874},
    {"ibm437", 437},
    {"cp437", 437},
    {"437", 437},
    {"cspc8codepage437", 437},
    {"ibm850", 850},
    {"cp850", 850},
    {"850", 850},
    {"ibm852", 852},
    {"cp852", 852},
    {"ibm855", 855},
    {"cp855", 855},
    {"ibm857", 857},
    {"cp857", 857},
    {"ibm860", 860},
    {"cp860", 860},
    {"ibm861", 861},
    {"cp861", 861},
    {"ibm862", 862},
    {"cp862", 862},
    {"ibm863", 863},
    {"cp863", 863},
    {"ibm864", 864},
    {"cp864", 864},
    {"ibm865", 865},
    {"cp865", 865},
    {"ibm866", 866},
    {"cp866", 866},
    {"ibm869", 869},
    {"cp869", 869},
    {"koi8-r", 20866},
    {"koi8r", 20866},
    {"koi", 20866},
    {"koi8", 20866},
    {"cskoi8r", 20866},
    {"koi8-u", 21866},
    {"koi8-ru", 21866},
    {"gbk", 936},
    {"cp936", 936},
    {"ms936", 936},
    {"windows-936", 936},
    {"gb2312", 936},
    {"csgb2312", 936},
    {"gb_2312-80", 936},
    {"chinese", 936},
    {"iso-ir-58", 936},
    {"x-gbk", 936},
    {"euc-cn", 936},
    {"x-euc-cn", 936},
    {"gb18030", 54936},
    {"big5", 950},
    {"big5-hkscs", 950},
    {"cn-big5", 950},
    {"csbig5", 950},
    {"x-x-big5", 950},
    {"cp950", 950},
    {"shift_jis", 932},
    {"shift-jis", 932},
    {"sjis", 932},
    {"ms_kanji", 932},
    {"csshiftjis", 932},
    {"x-sjis", 932},
    {"cp932", 932},
    {"windows-31j", 932},
    {"euc-jp", 51932},
    {"x-euc-jp", 51932},
    {"cseucpkdfmtjapanese", 51932},
    {"x-euc", 51932},
    {"iso-2022-jp", 50220},
    {"csiso2022jp", 50220},
    {"euc-kr", 51949},
    {"cseuckr", 51949},
    {"ks_c_5601-1987", 949},
    {"ks_c_5601", 949},
    {"korean", 949},
    {"cp949", 949},
    {"uhc", 949},
    {"iso-2022-kr", 50225},
    {"x-mac-roman", 10000},
    {"macintosh", 10000},
    {"mac", 10000},
    {"csmacintosh", 10000},
    {"x-mac-cyrillic", 10007},
    {"x-mac-ce", 10029},
    {"x-mac-greek", 10006},
    {"x-mac-turkish", 10081},
    {"x-mac-icelandic", 10079},
};

struct CodePageName
{
    int codePage;
    const char* iconvName;
};

constexpr CodePageName kCodePageNames[] = {
    {65001, "UTF-8"},        {65000, "UTF-7"},
    {1200, "UTF-16LE"},      {1201, "UTF-16BE"},
    {12000, "UTF-32LE"},     {12001, "UTF-32BE"},
    {20127, "ASCII"},        {28591, "ISO-8859-1"},
    {28592, "ISO-8859-2"},   {28593, "ISO-8859-3"},
    {28594, "ISO-8859-4"},   {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"},   {28597, "ISO-8859-7"},
    {28598, "ISO-8859-8"},   {38598, "ISO-8859-8"},
    {28599, "ISO-8859-9"},   {28603, "ISO-8859-13"},
    {28605, "ISO-8859-15"},  {1250, "CP1250"},
    {1251, "CP1251"},        {1252, "CP1252"},
    {1253, "CP1253"},        {1254, "CP1254"},
    {1255, "CP1255"},        {1256, "CP1256"},
    {1257, "CP1257"},        {1258, "CP1258"},
    {874, "CP874"},          {437, "CP437"},
    {850, "CP850"},          {852, "CP852"},
    {855, "CP855"},          {857, "CP857"},
    {860, "CP860"},          {861, "CP861"},
    {862, "CP862"},          {863, "CP863"},
    {864, "CP864"},          {865, "CP865"},
    {866, "CP866"},          {869, "CP869"},
    {20866, "KOI8-R"},       {21866, "KOI8-U"},
    {936, "CP936"},          {54936, "GB18030"},
    {950, "CP950"},          {932, "CP932"},
    {51932, "EUC-JP"},       {50220, "ISO-2022-JP"},
    {51949, "EUC-KR"},       {949, "CP949"},
    {50225, "ISO-2022-KR"},  {10000, "MACINTOSH"},
    {10007, "MAC-CYRILLIC"}, {10029, "MAC-CENTRALEUROPE"},
    {10006, "MACGREEK"},     {10081, "MACTURKISH"},
    {10079, "MACICELAND"},
};

} // namespace

int NamedEntityCodePoint(QStringView name)
{
    static const QHash<QStringView, int> table = [] {
        QHash<QStringView, int> t;
        for (const NamedEntity& e : kNamedEntities) {
            t.insert(QStringView(e.name), e.codePoint);
        }
        return t;
    }();
    return table.value(name, -1);
}

int CodePageOfEncoding(QStringView name)
{
    static const QHash<QString, int> table = [] {
        QHash<QString, int> t;
        for (const EncodingAlias& a : kEncodingAliases) {
            t.insert(QString::fromLatin1(a.name), a.codePage);
        }
        return t;
    }();
    return table.value(name.toString().toLower(), 0);
}

QByteArray IconvNameOfCodePage(int codePage)
{
    for (const CodePageName& c : kCodePageNames) {
        if (c.codePage == codePage) {
            return QByteArray(c.iconvName);
        }
    }
    return {};
}
