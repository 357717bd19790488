#pragma once
// Registration of the FTP actions of the newer family (connect and the command actions) and,
// for the design environment, their property pages.
namespace mx {

// The FTP rows of the package's action table, in its order, under the category "Internet".
// The FTP actions register no design-time classes of their own besides their pages.
void RegisterFTPActions(bool designEnvironment);

// The property pages of those actions, by page class name, in the order of the package's
// page table (called with the other pages, in the design environment only).
void RegisterFTPActionPages();

}  // namespace mx
