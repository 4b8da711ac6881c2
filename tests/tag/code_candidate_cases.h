#pragma once
// File names and the referral code candidate each carries, shared by the host
// test of the pure search and the Windows test of the stub's ExtractCodeCandidate.

namespace vireo::test {

struct CodeCandidateCase {
  const wchar_t* path;
  const wchar_t* code;  // null: no code
};

inline constexpr CodeCandidateCase kCodeCandidateCases[] = {
    {L"C:\\Downloads\\CorvaneUpdateSetup-qrs042 (2).exe", L"qrs042"},
    {L"C:\\Downloads\\CorvaneUpdateSetup-KLM777(1).exe", L"KLM777"},
    {L"x-qrs042 (3).exe", L"qrs042"},
    {L"x-qrs042().exe", L"qrs042"},
    {L"C:\\Downloads\\CorvaneUpdateSetup-XYZ3141.exe", nullptr},
    {L"C:\\Downloads\\Corvane-Update-Setup.exe", L"Update-Setup"},
    {L"C:\\a-b\\CorvaneUpdateSetup.exe", nullptr},  // dashes of the folder do not count
    {L"x-qrs042-1.exe", nullptr},
    {L"x-qrs042.beta.exe", nullptr},
    {L"x-qrs042 (3) (4).exe", nullptr},
    {L"x-qrs04a.exe", nullptr},
    {L"x-12a456.exe", nullptr},
    {L"-abcdef.exe", nullptr},  // only dash first: no form B either
    {L"x--.exe", L"-"},         // form B with both sides empty
    {L"x-ab-.exe", L"ab-"},
    {L".exe", nullptr},
    {L"(5).exe", nullptr},
    {L"x-abc123.tar.exe", nullptr},  // only the last extension is dropped
    // How the name and its extension are taken apart.
    {L"D:/dl/x-abc123.exe", L"abc123"},          // forward slashes separate too
    {L"D:x-abc123.exe", L"abc123"},              // so does a drive's colon
    {L"C:\\dl\\x-abc123\\", nullptr},        // a trailing separator stays in the name
    {L"C:\\x-abc123\\\\y-def456.exe", L"def456"},  // the name after a doubled separator
    {L"x-abc123.my exe", nullptr},               // a blank after the dot: no extension
    {L"x-abc123 (2).", L"abc123"},               // an empty extension
    {L"x-abc123", L"abc123"},                    // no extension at all
    {L"x-abc123 .exe", L"abc123"},               // trailing blanks go
    {L"x-abc123 ( 2).exe", nullptr},             // only digits in the copy number
    {L"x-a\x00e9" L"c123.exe", nullptr},         // only ASCII letters
    {L"x-\xff21" L"BC123.exe", nullptr},         // full-width letters are not ASCII
};

}  // namespace vireo::test
