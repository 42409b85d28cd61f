#pragma once
// The viewer run's own box texts, for the run and every front end that shows them (the
// boxes of a job use caption string 102 instead).

inline const char kViewerCaption[] = "타르베신 외부암호파일뷰어";
inline const char kNoInputFiles[] = "입력 파일이 없습니다.";
inline const char kNoAssociatedProgram[] = "연결된 프로그램이 없습니다.";
