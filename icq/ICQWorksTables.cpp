// The white-pages code tables of the ICQ service (the codes users pick for their country, languages,
// occupation, interests, past background and affiliations), with the lookups in both directions.
#include <algorithm>
#include <array>

#include "icq/ICQWorksText.h"
#include "rtl/SysUtils.h"

namespace icq {
namespace {

using namespace std::string_view_literals;

constexpr std::array<TCodeName, CountryCount> kCountries{{
    {1, "USA"sv},
    {7, "Russia"sv},
    {20, "Egypt"sv},
    {27, "South Africa"sv},
    {30, "Greece"sv},
    {31, "Netherlands"sv},
    {32, "Belgium"sv},
    {33, "France"sv},
    {34, "Spain"sv},
    {36, "Hungary"sv},
    {39, "Italy"sv},
    {40, "Romania"sv},
    {41, "Switzerland"sv},
    {42, "Czech Republic"sv},
    {43, "Austria"sv},
    {44, "United Kingdom"sv},
    {45, "Denmark"sv},
    {46, "Sweden"sv},
    {47, "Norway"sv},
    {48, "Poland"sv},
    {49, "Germany"sv},
    {51, "Peru"sv},
    {52, "Mexico"sv},
    {53, "Cuba"sv},
    {54, "Argentina"sv},
    {55, "Brazil"sv},
    {56, "Chile"sv},
    {57, "Colombia"sv},
    {58, "Venezuela"sv},
    {60, "Malaysia"sv},
    {61, "Australia"sv},
    {62, "Indonesia"sv},
    {63, "Philippines"sv},
    {64, "New Zealand"sv},
    {65, "Singapore"sv},
    {66, "Thailand"sv},
    {81, "Japan"sv},
    {82, "Korea (South)"sv},
    {84, "Viet Nam"sv},
    {86, "China"sv},
    {90, "Turkey"sv},
    {91, "India"sv},
    {92, "Pakistan"sv},
    {93, "Afghanistan"sv},
    {94, "Sri Lanka"sv},
    {95, "Myanmar"sv},
    {98, "Iran"sv},
    {101, "Anguilla"sv},
    {102, "Antigua"sv},
    {103, "Bahamas"sv},
    {104, "Barbados"sv},
    {105, "Bermuda"sv},
    {106, "British Virgin Islands"sv},
    {107, "Canada"sv},
    {108, "Cayman Islands"sv},
    {109, "Dominica"sv},
    {110, "Dominican Republic"sv},
    {111, "Grenada"sv},
    {112, "Jamaica"sv},
    {113, "Montserrat"sv},
    {114, "Nevis"sv},
    {115, "St. Kitts"sv},
    {116, "St. Vincent and the Grenadines"sv},
    {117, "Trinidad and Tobago"sv},
    {118, "Turks and Caicos Islands"sv},
    {120, "Barbuda"sv},
    {121, "Puerto Rico"sv},
    {122, "Saint Lucia"sv},
    {123, "United States Virgin Islands"sv},
    {212, "Morocco"sv},
    {213, "Algeria"sv},
    {216, "Tunisia"sv},
    {218, "Libya"sv},
    {220, "Gambia"sv},
    {221, "Senegal Republic"sv},
    {222, "Mauritania"sv},
    {223, "Mali"sv},
    {224, "Guinea"sv},
    {225, "Ivory Coast"sv},
    {226, "Burkina Faso"sv},
    {227, "Niger"sv},
    {228, "Togo"sv},
    {229, "Benin"sv},
    {230, "Mauritius"sv},
    {231, "Liberia"sv},
    {232, "Sierra Leone"sv},
    {233, "Ghana"sv},
    {234, "Nigeria"sv},
    {235, "Chad"sv},
    {236, "Central African Republic"sv},
    {237, "Cameroon"sv},
    {238, "Cape Verde Islands"sv},
    {239, "Sao Tome and Principe"sv},
    {240, "Equatorial Guinea"sv},
    {241, "Gabon"sv},
    {242, "Congo"sv},
    {243, "Dem. Rep. of the Congo"sv},
    {244, "Angola"sv},
    {245, "Guinea-Bissau"sv},
    {246, "Diego Garcia"sv},
    {247, "Ascension Island"sv},
    {248, "Seychelles"sv},
    {249, "Sudan"sv},
    {250, "Rwanda"sv},
    {251, "Ethiopia"sv},
    {252, "Somalia"sv},
    {253, "Djibouti"sv},
    {254, "Kenya"sv},
    {255, "Tanzania"sv},
    {256, "Uganda"sv},
    {257, "Burundi"sv},
    {258, "Mozambique"sv},
    {260, "Zambia"sv},
    {261, "Madagascar"sv},
    {262, "Reunion Island"sv},
    {263, "Zimbabwe"sv},
    {264, "Namibia"sv},
    {265, "Malawi"sv},
    {266, "Lesotho"sv},
    {267, "Botswana"sv},
    {268, "Swaziland"sv},
    {269, "Mayotte Island"sv},
    {290, "St. Helena"sv},
    {291, "Eritrea"sv},
    {297, "Aruba"sv},
    {298, "Faeroe Islands"sv},
    {299, "Greenland"sv},
    {350, "Gibraltar"sv},
    {351, "Portugal"sv},
    {352, "Luxembourg"sv},
    {353, "Ireland"sv},
    {354, "Iceland"sv},
    {355, "Albania"sv},
    {356, "Malta"sv},
    {357, "Cyprus"sv},
    {358, "Finland"sv},
    {359, "Bulgaria"sv},
    {370, "Lithuania"sv},
    {371, "Latvia"sv},
    {372, "Estonia"sv},
    {373, "Moldova"sv},
    {374, "Armenia"sv},
    {375, "Belarus"sv},
    {376, "Andorra"sv},
    {377, "Monaco"sv},
    {378, "San Marino"sv},
    {379, "Vatican City"sv},
    {380, "Ukraine"sv},
    {381, "Yugoslavia"sv},
    {385, "Croatia"sv},
    {386, "Slovenia"sv},
    {387, "Bosnia and Herzegovina"sv},
    {389, "Macedonia (F.Y.R.O.M.)"sv},
    {500, "Falkland Islands"sv},
    {501, "Belize"sv},
    {502, "Guatemala"sv},
    {503, "El Salvador"sv},
    {504, "Honduras"sv},
    {505, "Nicaragua"sv},
    {506, "Costa Rica"sv},
    {507, "Panama"sv},
    {508, "St. Pierre and Miquelon"sv},
    {509, "Haiti"sv},
    {590, "Guadeloupe"sv},
    {591, "Bolivia"sv},
    {592, "Guyana"sv},
    {593, "Ecuador"sv},
    {594, "French Guiana"sv},
    {595, "Paraguay"sv},
    {596, "Martinique"sv},
    {597, "Suriname"sv},
    {598, "Uruguay"sv},
    {599, "Netherlands Antilles"sv},
    {670, "Saipan Island"sv},
    {671, "Guam"sv},
    {672, "Christmas Island"sv},
    {673, "Brunei"sv},
    {674, "Nauru"sv},
    {675, "Papua New Guinea"sv},
    {676, "Tonga"sv},
    {677, "Solomon Islands"sv},
    {678, "Vanuatu"sv},
    {679, "Fiji Islands"sv},
    {680, "Palau"sv},
    {681, "Wallis and Futuna Islands"sv},
    {682, "Cook Islands"sv},
    {683, "Niue"sv},
    {684, "American Samoa"sv},
    {685, "Western Samoa"sv},
    {686, "Kiribati Republic"sv},
    {687, "New Caledonia"sv},
    {688, "Tuvalu"sv},
    {689, "French Polynesia"sv},
    {690, "Tokelau"sv},
    {691, "Micronesia, Federated States of"sv},
    {692, "Marshall Islands"sv},
    {705, "Kazakhstan"sv},
    {706, "Kyrgyz Republic"sv},
    {708, "Tajikistan"sv},
    {709, "Turkmenistan"sv},
    {711, "Uzbekistan"sv},
    {800, "International Freephone Service"sv},
    {850, "Korea (North)"sv},
    {852, "Hong Kong"sv},
    {853, "Macau"sv},
    {855, "Cambodia"sv},
    {856, "Laos"sv},
    {870, "INMARSAT"sv},
    {871, "INMARSAT (Atlantic-East)"sv},
    {872, "INMARSAT (Pacific)"sv},
    {873, "INMARSAT (Indian)"sv},
    {874, "INMARSAT (Atlantic-West)"sv},
    {880, "Bangladesh"sv},
    {886, "Taiwan"sv},
    {960, "Maldives"sv},
    {961, "Lebanon"sv},
    {962, "Jordan"sv},
    {963, "Syria"sv},
    {964, "Iraq"sv},
    {965, "Kuwait"sv},
    {966, "Saudi Arabia"sv},
    {967, "Yemen"sv},
    {968, "Oman"sv},
    {971, "United Arab Emirates"sv},
    {972, "Israel"sv},
    {973, "Bahrain"sv},
    {974, "Qatar"sv},
    {975, "Bhutan"sv},
    {976, "Mongolia"sv},
    {977, "Nepal"sv},
    {994, "Azerbaijan"sv},
    {995, "Georgia"sv},
    {2691, "Comoros"sv},
    {4101, "Liechtenstein"sv},
    {4201, "Slovak Republic"sv},
    {5399, "Guantanamo Bay"sv},
    {5901, "French Antilles"sv},
    {6101, "Cocos-Keeling Islands"sv},
    {6701, "Rota Island"sv},
    {6702, "Tinian Island"sv},
    {6722, "Australian Antarctic Territory"sv},
    {6723, "Norfolk Island"sv},
    {9999, "Other"sv},
}};

constexpr std::array<TCodeName, LanguageCount> kLanguages{{
    {1, "Arabic"sv},      {2, "Bhojpuri"sv},   {3, "Bulgarian"sv},  {4, "Burmese"sv},
    {5, "Cantonese"sv},   {6, "Catalan"sv},    {7, "Chinese"sv},    {8, "Croatian"sv},
    {9, "Czech"sv},       {10, "Danish"sv},    {11, "Dutch"sv},     {12, "English"sv},
    {13, "Esperanto"sv},  {14, "Estonian"sv},  {15, "Farsi"sv},     {16, "Finnish"sv},
    {17, "French"sv},     {18, "Gaelic"sv},    {19, "German"sv},    {20, "Greek"sv},
    {21, "Hebrew"sv},     {22, "Hindi"sv},     {23, "Hungarian"sv}, {24, "Icelandic"sv},
    {25, "Indonesian"sv}, {26, "Italian"sv},   {27, "Japanese"sv},  {28, "Khmer"sv},
    {29, "Korean"sv},     {30, "Lao"sv},       {31, "Latvian"sv},   {32, "Lithuanian"sv},
    {33, "Malay"sv},      {34, "Norwegian"sv}, {35, "Polish"sv},    {36, "Portuguese"sv},
    {37, "Romanian"sv},   {38, "Russian"sv},   {39, "Serbian"sv},   {40, "Slovak"sv},
    {41, "Slovenian"sv},  {42, "Somali"sv},    {43, "Spanish"sv},   {44, "Swahili"sv},
    {45, "Swedish"sv},    {46, "Tagalog"sv},   {47, "Tatar"sv},     {48, "Thai"sv},
    {49, "Turkish"sv},    {50, "Ukrainian"sv}, {51, "Urdu"sv},      {52, "Vietnamese"sv},
    {53, "Yiddish"sv},    {54, "Yoruba"sv},    {55, "Afrikaans"sv}, {56, "Bosnian"sv},
    {57, "Persian"sv},    {58, "Albanian"sv},  {59, "Armenian"sv},  {60, "Punjabi"sv},
    {61, "Chamorro"sv},   {62, "Mongolian"sv}, {63, "Mandarin"sv},  {64, "Taiwanese"sv},
    {65, "Macedonian"sv}, {66, "Sindhi"sv},    {67, "Welsh"sv},     {68, "Azerbaijani"sv},
    {69, "Kurdish"sv},    {70, "Gujarati"sv},  {71, "Tamil"sv},     {72, "Belorussian"sv},
    {255, "Unknown"sv},
}};

constexpr std::array<TCodeName, OccupationCount> kOccupations{{
    {1, "Academic"sv},
    {2, "Administrative"sv},
    {3, "Art/Entertainment"sv},
    {4, "College Student"sv},
    {5, "Computers"sv},
    {6, "Community & Social"sv},
    {7, "Education"sv},
    {8, "Engineering"sv},
    {9, "Financial Services"sv},
    {10, "Government"sv},
    {11, "High School Student"sv},
    {12, "Home"sv},
    {13, "ICQ - Providing Help"sv},
    {14, "Law"sv},
    {15, "Managerial"sv},
    {16, "Manufacturing"sv},
    {17, "Medical/Health"sv},
    {18, "Military"sv},
    {19, "Non-Government Organization"sv},
    {20, "Professional"sv},
    {21, "Retail"sv},
    {22, "Retired"sv},
    {23, "Science & Research"sv},
    {24, "Sports"sv},
    {25, "Technical"sv},
    {26, "University Student"sv},
    {27, "Web Building"sv},
    {99, "Other Services"sv},
}};

constexpr std::array<TCodeName, InterestCount> kInterests{{
    {100, "Art"sv},
    {101, "Cars"sv},
    {102, "Celebrity Fans"sv},
    {103, "Collections"sv},
    {104, "Computers"sv},
    {105, "Culture & Literature"sv},
    {106, "Fitness"sv},
    {107, "Games"sv},
    {108, "Hobbies"sv},
    {109, "ICQ - Providing Help"sv},
    {110, "Internet"sv},
    {111, "Lifestyle"sv},
    {112, "Movies/TV"sv},
    {113, "Music"sv},
    {114, "Outdoor Activities"sv},
    {115, "Parenting"sv},
    {116, "Pets/Animals"sv},
    {117, "Religion"sv},
    {118, "Science/Technology"sv},
    {119, "Skills"sv},
    {120, "Sports"sv},
    {121, "Web Design"sv},
    {122, "Nature and Environment"sv},
    {123, "News & Media"sv},
    {124, "Government"sv},
    {125, "Business & Economy"sv},
    {126, "Mystics"sv},
    {127, "Travel"sv},
    {128, "Astronomy"sv},
    {129, "Space"sv},
    {130, "Clothing"sv},
    {131, "Parties"sv},
    {132, "Women"sv},
    {133, "Social science"sv},
    {134, "60's"sv},
    {135, "70's"sv},
    {136, "80's"sv},
    {137, "50's"sv},
    {138, "Finance and corporate"sv},
    {139, "Entertainment"sv},
    {140, "Consumer electronics"sv},
    {141, "Retail stores"sv},
    {142, "Health and beauty"sv},
    {143, "Media"sv},
    {144, "Household products"sv},
    {145, "Mail order catalog"sv},
    {146, "Business services"sv},
    {147, "Audio and visual"sv},
    {148, "Sporting and athletic"sv},
    {149, "Publishing"sv},
    {150, "Home automation"sv},
}};

constexpr std::array<TCodeName, PastCount> kPasts{{
    {300, "Elementary School"sv},
    {301, "High School"sv},
    {302, "College"sv},
    {303, "University"sv},
    {304, "Military"sv},
    {305, "Past Work Place"sv},
    {306, "Past Organization"sv},
    {399, "Other"sv},
}};

constexpr std::array<TCodeName, AffiliationCount> kAffiliations{{
    {200, "Alumni Org."sv},
    {201, "Charity Org."sv},
    {202, "Club/Social Org."sv},
    {203, "Community Org."sv},
    {204, "Cultural Org."sv},
    {205, "Fan Clubs"sv},
    {206, "Fraternity/Sorority"sv},
    {207, "Hobbyists Org."sv},
    {208, "International Org."sv},
    {209, "Nature and Environment Org."sv},
    {210, "Professional Org."sv},
    {211, "Scientific/Technical Org."sv},
    {212, "Self Improvement Group"sv},
    {213, "Spiritual/Religious Org."sv},
    {214, "Sports Org."sv},
    {215, "Support Org."sv},
    {216, "Trade and Business Org."sv},
    {217, "Union"sv},
    {218, "Voluntary Org."sv},
    {299, "Other"sv},
}};

// The tables are kept in code order so a code lookup can bisect.
template <std::size_t N>
constexpr bool Sorted(const std::array<TCodeName, N>& t) {
  for (std::size_t i = 1; i < N; ++i)
    if (t[i - 1].Code >= t[i].Code) return false;
  return true;
}

static_assert(Sorted(kCountries), "country codes out of order");
static_assert(Sorted(kLanguages), "language codes out of order");
static_assert(Sorted(kOccupations), "occupation codes out of order");
static_assert(Sorted(kInterests), "interest codes out of order");
static_assert(Sorted(kPasts), "past codes out of order");
static_assert(Sorted(kAffiliations), "affiliation codes out of order");

std::string CodeToName(std::span<const TCodeName> table, std::uint16_t code) {
  const auto it = std::lower_bound(table.begin(), table.end(), code,
                                   [](const TCodeName& e, std::uint16_t c) { return e.Code < c; });
  return it != table.end() && it->Code == code ? std::string(it->Name) : std::string();
}

std::uint16_t NameToCode(std::span<const TCodeName> table, std::string_view name) {
  for (const TCodeName& e : table)
    if (rtl::SameText(e.Name, name)) return e.Code;
  return 0;
}

}  // namespace

std::span<const TCodeName> CountryTable() {
  return kCountries;
}
std::span<const TCodeName> LanguageTable() {
  return kLanguages;
}
std::span<const TCodeName> OccupationTable() {
  return kOccupations;
}
std::span<const TCodeName> InterestTable() {
  return kInterests;
}
std::span<const TCodeName> PastTable() {
  return kPasts;
}
std::span<const TCodeName> AffiliationTable() {
  return kAffiliations;
}

std::string CountryToStr(std::uint16_t code) {
  return CodeToName(kCountries, code);
}
std::string LanguageToStr(std::uint16_t code) {
  return CodeToName(kLanguages, code);
}
std::string OccupationToStr(std::uint16_t code) {
  return CodeToName(kOccupations, code);
}
std::string InterestToStr(std::uint16_t code) {
  return CodeToName(kInterests, code);
}
std::string PastToStr(std::uint16_t code) {
  return CodeToName(kPasts, code);
}
std::string AffiliationToStr(std::uint16_t code) {
  return CodeToName(kAffiliations, code);
}

std::uint16_t StrToCountryI(std::string_view name) {
  return NameToCode(kCountries, name);
}
std::uint16_t StrToLanguageI(std::string_view name) {
  return NameToCode(kLanguages, name);
}
std::uint16_t StrToOccupationI(std::string_view name) {
  return NameToCode(kOccupations, name);
}
std::uint16_t StrToInterestI(std::string_view name) {
  return NameToCode(kInterests, name);
}
std::uint16_t StrToPastI(std::string_view name) {
  return NameToCode(kPasts, name);
}
std::uint16_t StrToAffiliationI(std::string_view name) {
  return NameToCode(kAffiliations, name);
}

}  // namespace icq
