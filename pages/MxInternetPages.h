#pragma once
// The tables of the news, HTTP, Telnet and ICQ pages and of the FTP script action's settings pages.
#include <map>
#include <string>

#include "pages/MxPropertyPage.h"

namespace pages {

const std::map<std::string, TPageSpec, std::less<>>& InternetPageSpecs();

}  // namespace pages
