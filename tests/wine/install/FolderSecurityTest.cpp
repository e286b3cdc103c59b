// Where the service's folder may lie and who may write it: folders refused
// by place, the access list of a folder the run
// makes (read back), and an existing folder that others may write refused
// before anything changes.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>

#include <iostream>
#include <memory>

#include "InstallTestSupport.h"
#include "install/FolderSecurity.h"
#include "install/Installation.h"
#include "install/Paths.h"
#include "install/ServiceControl.h"
#include "install/SetupOptions.h"
#include "install/Transaction.h"

namespace quv::test {
namespace {

TEST(InstallFolder, RefusedByWhereItLies) {
  for (const char* folder : {"C:\\", "C:\\\\", "\\\\server\\share\\Quv", "C:\\Quv\\..\\Windows", "C:\\Quv/../Windows",
                             "C:\\.\\Quv", "Quv", "Q:\\Quv"}) {
    SCOPED_TRACE(folder);
    const FolderVerdict verdict = CheckInstallFolder(folder);
    EXPECT_EQ(verdict.kind, FolderVerdict::Refused);
    EXPECT_FALSE(verdict.reason.empty());
  }
  // 誠 (D5 5C) ends in a backslash byte: no empty or dot part for it.
  EXPECT_FALSE(paths::HasDotPart("C:\\\xD5\\..x"));
  EXPECT_TRUE(paths::IsInsideFolder("C:\\Quv\\\xD5\\a.lnk", "C:\\quv"));
  for (const char* outside : {"C:\\Quv", "C:\\Quv2\\a", "C:\\Quv\\..\\a", "C:\\Quv\\x/../../a", "D:\\Quv\\a"})
    EXPECT_FALSE(paths::IsInsideFolder(outside, "C:\\Quv\\")) << outside;
}

// The entries of the folder's access list as "sid:mask" pairs, and whether
// it is protected from inheritance.
struct AccessList {
  bool protectedList = false;
  std::vector<std::pair<std::string, DWORD>> allowed;
};

std::string SidText(PSID sid) {
  char name[256] = {}, domain[256] = {};
  DWORD n = sizeof name, d = sizeof domain;
  SID_NAME_USE use;
  return LookupAccountSidA(nullptr, sid, name, &n, domain, &d, &use) ? name : "?";
}

AccessList ReadAccessList(const std::string& folder) {
  AccessList list;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  EXPECT_EQ(GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                  nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  if (!descriptor) return list;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  list.protectedList = control & SE_DACL_PROTECTED;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE)
      list.allowed.emplace_back(SidText(&ace->SidStart), ace->Mask);
  }
  LocalFree(descriptor);
  return list;
}

TEST(InstallFolder, AFolderTheRunMakesHasTheProtectedAccessList) {
  ScratchDir dir("made");
  const std::string folder = dir / "a\\b";
  {
    InstallTransaction transaction(nullptr);
    transaction.CreateFolder(folder);
    transaction.Commit();
  }
  for (const std::string& made : {dir / "a", folder}) {
    SCOPED_TRACE(made);
    const AccessList list = ReadAccessList(made);
    if (list.protectedList) {
      const std::vector<std::pair<std::string, DWORD>> expected = {
          {"Administrators", FILE_ALL_ACCESS}, {"SYSTEM", FILE_ALL_ACCESS}, {"Users", 0x1200a9}};
      EXPECT_EQ(list.allowed, expected);
    } else {
      // This Wine keeps only the owner's, the group's and everyone's Unix
      // bits of an access list: a folder the run makes gives everyone
      // nothing at all (one made without a list gives everyone read).
      std::cout << "note: no access lists kept here (Wine); their Unix bits are checked\n";
      for (const auto& [sid, mask] : list.allowed) EXPECT_NE(sid, "Everyone") << std::hex << mask;
    }
    EXPECT_EQ(CheckInstallFolder(made).kind, FolderVerdict::Usable);
  }
}

// Grants Everyone and Users modify rights on folder, as an administrator may
// have done by mistake (this Wine keeps only Everyone's part).
void LetUsersWrite(const std::string& folder) {
  EXPLICIT_ACCESSA grants[2] = {};
  const char* names[2] = {"Everyone", "Users"};
  for (int i = 0; i < 2; ++i) {
    grants[i].grfAccessPermissions = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
    grants[i].grfAccessMode = GRANT_ACCESS;
    grants[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    grants[i].Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    grants[i].Trustee.ptstrName = const_cast<char*>(names[i]);
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL current = nullptr, updated = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  &current, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(SetEntriesInAclA(2, grants, current, &updated), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(SetNamedSecurityInfoA(const_cast<char*>(folder.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, updated, nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  LocalFree(updated);
  LocalFree(descriptor);
}

TEST(InstallFolder, AnExistingFolderOthersMayWriteIsRefusedBeforeAnythingChanges) {
  RemoveServiceCompletely(kServiceName);
  ScratchDir dir(std::string("open ") + kGbkService);
  // A registered service stands for the installation the run must not touch.
  const std::string program = dir / "QuvSvr.exe";
  ASSERT_TRUE(CopyOne(ProgramDir() + "QuvSvr.exe", program));
  ASSERT_EQ(RunProgram("\"" + program + "\" -install /silent"), 0);
  ASSERT_EQ(CheckInstallFolder(dir.path()).kind, FolderVerdict::Usable) << CheckInstallFolder(dir.path()).reason;

  LetUsersWrite(dir.path());
  EXPECT_EQ(CheckInstallFolder(dir.path()).kind, FolderVerdict::Unsafe);
  InstalledFileList files;
  InstallationSteps steps;
  steps.UnZip = [](const std::string&, const std::string&) { ADD_FAILURE() << "extracted into an unsafe folder"; };
  InstallTransaction transaction(nullptr);
  try {
    RunInstallation(dir.path(), files, steps, transaction);
    ADD_FAILURE() << "the run must refuse the folder";
  } catch (const InstallFailure& e) {
    EXPECT_EQ(ExitCodeOf(e.Failure()), kExitUnsafeFolder);
    EXPECT_NE(FailureText(e.Failure()).find(dir.path()), std::string::npos);
  }
  EXPECT_FALSE(transaction.Open()) << "nothing changed";
  EXPECT_NE(QueryServiceState("", kServiceName), 0u) << "the service is left alone";
  RemoveServiceCompletely(kServiceName);
}

}  // namespace
}  // namespace quv::test
