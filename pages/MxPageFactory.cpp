#include "pages/MxPageFactory.h"

#include <map>

#include "host/MxOptions.h"
#include "host/MxServices.h"
#include "pages/MxEmailPages.h"
#include "pages/MxFTPPages.h"
#include "pages/MxInternetPages.h"
#include "pages/MxOptionPages.h"
#include "pages/MxScriptPages.h"
#include "pages/MxWaitOptionsFrame.h"

namespace pages {

namespace {

template <class T>
std::unique_ptr<TMxActionPage> MakeActionPage() {
  return std::make_unique<T>();
}

template <class T>
std::unique_ptr<TMxOptionsPage> MakeOptionsPage() {
  return std::make_unique<T>();
}

const std::map<std::string, TActionPageFactory, std::less<>>& ActionPages() {
  static const std::map<std::string, TActionPageFactory, std::less<>> pages = {
      {"TEmailOptionsFrame", MakeActionPage<TEmailOptionsFrame>},
      {"TEmailWhoFrame", MakeActionPage<TEmailWhoFrame>},
      {"TRecipientsFrame", MakeActionPage<TRecipientsFrame>},
      {"TCopyToFrame", MakeActionPage<TCopyToFrame>},
      {"TBlindCopyToFrame", MakeActionPage<TBlindCopyToFrame>},
      {"TReplyToFrame", MakeActionPage<TReplyToFrame>},
      {"TBodyFrame", MakeActionPage<TBodyFrame>},
      {"TAttachmentsFrame", MakeActionPage<TAttachmentsFrame>},
      {"TWaitOptionsFrame", MakeActionPage<TWaitOptionsFrame>},
      {"TFTPUploadUpdateFrame", MakeActionPage<TFTPUploadUpdateFrame>},
      {"TFTPScriptFrame", MakeActionPage<TFTPScriptFrame>},
      {"TMxTelnetScrptFrame", MakeActionPage<TMxTelnetScrptFrame>},
  };
  return pages;
}

const std::map<std::string, TOptionsPageFactory, std::less<>>& OptionsPages() {
  static const std::map<std::string, TOptionsPageFactory, std::less<>> pages = {
      {"TEmailGlobalOptionsFrame", MakeOptionsPage<TEmailGlobalOptionsFrame>},
      {"TFTPGlobalOptionsFrame", MakeOptionsPage<TFTPGlobalOptionsFrame>},
  };
  return pages;
}

std::vector<std::string> Flatten(const std::vector<std::vector<std::string>>& registrations) {
  std::vector<std::string> names;
  for (const auto& r : registrations) names.insert(names.end(), r.begin(), r.end());
  return names;
}

}  // namespace

std::unique_ptr<TMxActionPage> CreateActionPage(std::string_view frameClass) {
  if (const auto it = ActionPages().find(frameClass); it != ActionPages().end()) return it->second();
  for (const auto* specs : {&FTPPageSpecs(), &InternetPageSpecs()})
    if (const auto it = specs->find(frameClass); it != specs->end())
      return std::make_unique<TPropertyPage>(it->second);
  return nullptr;
}

std::unique_ptr<TMxOptionsPage> CreateOptionsPage(std::string_view frameClass) {
  const auto it = OptionsPages().find(frameClass);
  return it == OptionsPages().end() ? nullptr : it->second();
}

bool HasActionPage(std::string_view frameClass) {
  return ActionPages().contains(frameClass) || FTPPageSpecs().contains(frameClass) ||
         InternetPageSpecs().contains(frameClass);
}

std::vector<std::string> ActionPageClasses(const host::TActionService& actions,
                                           std::string_view actionClass) {
  return Flatten(actions.PagesOf(actionClass));
}

std::vector<std::string> OptionPageClasses(const host::TOptionsService& options,
                                           std::string_view optionsClass) {
  return Flatten(options.PagesOf(optionsClass));
}

}  // namespace pages
