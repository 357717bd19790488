#pragma once
// Design-time registrations: option pages and action pages, by class name (the editor's page
// library supplies a factory for each name).
namespace mx {

void RegisterPages();

}  // namespace mx
