#pragma once
// The viewer run's own box texts, for the run and every front end that shows them (the
// boxes of a job use caption string 102 instead), in Korean: each is shown through Tr.

#include "platform/catalog.h"

inline const char kViewerCaption[] = N_("타르베신 외부암호파일뷰어");
inline const char kNoInputFiles[] = N_("입력 파일이 없습니다.");
inline const char kNoAssociatedProgram[] = N_("연결된 프로그램이 없습니다.");
// The encryption road's: the end box's first line, before each failure and its reason.
inline const char kEncryptionFailures[] = N_("다음 파일은 암호로 만들지 못했습니다.");
// "Decrypt here"'s end box, and the files the double-click road leaves out before it asks
// for the password, each with its reason.
inline const char kDecryptionFailures[] = N_("다음 파일은 풀지 못했습니다.");
inline const char kLeftOut[] = N_("다음 파일은 열 수 없어 빼고 엽니다.");
// What the file manager's roads made, said at their end when everything went well.
inline const char kEncryptedNotice[] = N_("파일 %u개를 암호 파일로 만들었습니다:");
inline const char kDecryptedNotice[] = N_("암호 파일 %u개를 옆에 풀었습니다:");
// The encryption road's prompt, when the two passwords typed differ (it then asks again).
inline const char kPasswordsDiffer[] = N_("두 암호가 서로 다릅니다. 다시 입력하십시오.");
