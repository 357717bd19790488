#pragma once
// Pages by class name. The package registers page class names with the host in its fixed order;
// this library knows how to make a widget for each name, so the runner never links Qt.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pages/MxPage.h"

namespace host {
class TActionService;
class TOptionsService;
}  // namespace host

namespace pages {

using TActionPageFactory = std::function<std::unique_ptr<TMxActionPage>()>;
using TOptionsPageFactory = std::function<std::unique_ptr<TMxOptionsPage>()>;

// Null for a name without a factory.
std::unique_ptr<TMxActionPage> CreateActionPage(std::string_view frameClass);
std::unique_ptr<TMxOptionsPage> CreateOptionsPage(std::string_view frameClass);
bool HasActionPage(std::string_view frameClass);

// The frame class names of an action's pages, in the order they were registered.
std::vector<std::string> ActionPageClasses(const host::TActionService& actions, std::string_view actionClass);
std::vector<std::string> OptionPageClasses(const host::TOptionsService& options,
                                           std::string_view optionsClass);

}  // namespace pages
