#pragma once
// The two verbs the association adds to the XDG file managers' menus, as the Nautilus
// scripts are named (the service menus and Nemo actions carry them in
// resources/linux; Windows shows its string resources IDS_ENCRYPT_VERB and
// IDS_DECRYPT_HERE_VERB).

// On every file: the selection is made into containers (the viewer's /Encrypt road).
inline const char kEncryptVerbText[] = "암호 파일로 만들기…";
inline const char kEncryptVerbTextEnglish[] = "Encrypt with password…";
// On containers: each is decrypted beside itself (/DecryptHere).
inline const char kDecryptHereVerbText[] = "여기에 풀기";
inline const char kDecryptHereVerbTextEnglish[] = "Decrypt here";
