// Holds the wizard's Chinese texts: compiled with the GBK execution
// character set.
#include "install/FolderSecurity.h"

#include <windows.h>
#include <aclapi.h>
#include <shlobj.h>

#include <memory>
#include <vector>

#include "install/Paths.h"
#include "install/ServiceControl.h"
#include "zip/Text.h"

namespace quv {

namespace {

constexpr char kFolderName[] = "服务程序";

struct SidFreer {
  void operator()(void* sid) const { FreeSid(sid); }
};
using OwnedSid = std::unique_ptr<void, SidFreer>;

OwnedSid NtSid(std::initializer_list<DWORD> parts) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  DWORD p[8] = {};
  BYTE count = 0;
  for (DWORD part : parts) p[count++] = part;
  PSID sid = nullptr;
  if (!AllocateAndInitializeSid(&nt, count, p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], &sid)) return nullptr;
  return OwnedSid(sid);
}

OwnedSid Administrators() { return NtSid({SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}); }
OwnedSid LocalSystem() { return NtSid({SECURITY_LOCAL_SYSTEM_RID}); }
OwnedSid Users() { return NtSid({SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}); }
OwnedSid TrustedInstaller() { return NtSid({80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464}); }

OwnedSid CreatorOwner() {
  SID_IDENTIFIER_AUTHORITY creator = SECURITY_CREATOR_SID_AUTHORITY;
  PSID sid = nullptr;
  if (!AllocateAndInitializeSid(&creator, 1, SECURITY_CREATOR_OWNER_RID, 0, 0, 0, 0, 0, 0, 0, &sid)) return nullptr;
  return OwnedSid(sid);
}

// The user of this process's token (a copy), or empty.
std::vector<BYTE> OwnUser() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  std::vector<BYTE> buffer(256);
  DWORD needed = 0;
  const bool ok = GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &needed);
  CloseHandle(token);
  if (!ok) return {};
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  return std::vector<BYTE>(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
}

// Who may own or write the service's folder. The administrator running the
// installer counts too: the run requires those rights, and systems where an
// administrator's objects are owned by the account itself (a policy choice
// on Windows, the only choice under Wine) name that account.
class TrustedAccounts {
 public:
  TrustedAccounts() {
    admins_ = Administrators();
    system_ = LocalSystem();
    installer_ = TrustedInstaller();
    creatorOwner_ = CreatorOwner();
    if (HoldsAdministratorRights()) self_ = OwnUser();
  }
  bool Holds(PSID sid) const {
    for (const OwnedSid* known : {&admins_, &system_, &installer_, &creatorOwner_}) {
      if (*known && EqualSid(known->get(), sid)) return true;
    }
    return !self_.empty() && EqualSid(const_cast<BYTE*>(self_.data()), sid);
  }

 private:
  OwnedSid admins_, system_, installer_, creatorOwner_;
  std::vector<BYTE> self_;
};

// Rights that let a holder change what the folder holds or who may.
constexpr DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                               WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;

// Empty when the existing folder's owner and access list are safe, else why not.
std::string UnsafeAccess(const std::string& folder) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  const DWORD result =
      GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            &owner, nullptr, &dacl, nullptr, &descriptor);
  if (result != ERROR_SUCCESS) return "无法读取文件夹的权限 (错误 " + std::to_string(result) + ")";
  const std::unique_ptr<void, decltype(&LocalFree)> held(descriptor, &LocalFree);
  const TrustedAccounts trusted;
  if (!owner || !trusted.Holds(owner)) return "文件夹的所有者不是管理员或系统";
  if (!dacl) return "所有用户都可以修改该文件夹";
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) return "无法读取文件夹的权限";
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return "文件夹的权限无法核对";
    const auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    if ((allowed->Mask & kWriteRights) && !trusted.Holds(const_cast<DWORD*>(&allowed->SidStart)))
      return "管理员以外的用户可以修改该文件夹";
  }
  return "";
}

// The access list of the folders the run makes: Administrators and SYSTEM
// full control, Users (unless private) read and execute, each inherited by
// what the folder will hold; marked protected, so nothing comes from above.
bool CreateWithAccess(const std::string& folder, bool forUsers) {
  const OwnedSid admins = Administrators(), system = LocalSystem(), users = Users();
  if (!admins || !system || !users) return false;
  const DWORD size = sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE);
  std::vector<DWORD> aclBuffer(size / sizeof(DWORD) + 1);
  PACL acl = reinterpret_cast<PACL>(aclBuffer.data());
  constexpr DWORD kInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  if (!InitializeAcl(acl, size, ACL_REVISION) ||
      !AddAccessAllowedAceEx(acl, ACL_REVISION, kInherit, FILE_ALL_ACCESS, admins.get()) ||
      !AddAccessAllowedAceEx(acl, ACL_REVISION, kInherit, FILE_ALL_ACCESS, system.get()) ||
      (forUsers &&
       !AddAccessAllowedAceEx(acl, ACL_REVISION, kInherit, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, users.get())))
    return false;
  SECURITY_DESCRIPTOR descriptor;
  if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) ||
      !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
    return false;
  // Owned by the group, not by whichever administrator ran the installer.
  SetSecurityDescriptorOwner(&descriptor, admins.get(), FALSE);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
  if (CreateDirectoryA(folder.c_str(), &attributes)) return true;
  if (GetLastError() != ERROR_INVALID_OWNER) return false;
  SetSecurityDescriptorOwner(&descriptor, nullptr, FALSE);
  return CreateDirectoryA(folder.c_str(), &attributes) != 0;
}

}  // namespace

std::string DefaultInstallFolder() {
  char folder[MAX_PATH + 1] = {};
  if (SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK || !*folder)
    return std::string("C:\\Program Files\\") + kFolderName;
  return WithTrailingBackslash(folder) + kFolderName;
}

FolderVerdict CheckInstallFolder(const std::string& folder) {
  using Kind = FolderVerdict::Kind;
  if (!paths::IsAbsoluteFolder(folder))
    return {Kind::Refused, "请输入完整的安装文件夹, 以盘符开头, 例如 C:\\Program Files\\服务程序"};
  if (paths::IsNetworkFolder(folder)) return {Kind::Refused, "不能安装到网络文件夹"};
  if (paths::IsDriveRoot(folder)) return {Kind::Refused, "不能安装到驱动器的根文件夹"};
  if (paths::HasDotPart(folder)) return {Kind::Refused, "文件夹不能含有 \".\" 或 \"..\""};
  const std::string root = folder.substr(0, 3);
  const UINT drive = GetDriveTypeA(root.c_str());
  if (drive != DRIVE_FIXED && drive != DRIVE_RAMDISK)
    return {Kind::Refused, "只能安装到本机的固定磁盘 (" + root + " 是可移动磁盘, 网络驱动器或不存在)"};
  std::string existing = folder;
  if (existing.size() > 3 && text::LastCharIs(existing, '\\')) existing.pop_back();
  const DWORD attributes = GetFileAttributesA(existing.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
  std::string unsafe = UnsafeAccess(existing);
  if (unsafe.empty()) return {};
  return {Kind::Unsafe, unsafe + ": " + existing + "\r\n请选择其他文件夹, 或由管理员收回其他用户的写入权限."};
}

bool CreateProtectedFolder(const std::string& folder) { return CreateWithAccess(folder, true); }
bool CreatePrivateFolder(const std::string& folder) { return CreateWithAccess(folder, false); }

bool HoldsAdministratorRights() {
  if (!IsNtPlatform()) return true;
  const OwnedSid admins = Administrators();
  BOOL member = FALSE;
  return admins && CheckTokenMembership(nullptr, admins.get(), &member) && member;
}

}  // namespace quv
