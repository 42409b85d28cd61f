// The page's own texts, Korean and English; the engine's failure texts come from the
// engine, in the language the page tells it. {name} marks a value filled in when shown.
'use strict';

var QV3_TEXTS = {
  ko: {
    language: 'English',
    languageLabel: 'Read this page in English',
    title: '타르베신 외부암호파일 뷰어',
    promise: '파일은 이 컴퓨터를 떠나지 않습니다: 열기와 만들기 모두 이 브라우저 안에서 이루어지고, 페이지는 아무 곳에도 연결하지 않습니다.',
    openHeading: '암호파일 열기',
    openDrop: '암호파일(.aqv3 등)을 여기에 끌어다 놓거나',
    openChoose: '암호파일 선택…',
    makeHeading: '암호파일 만들기',
    makeDrop: '암호화할 파일을 여기에 끌어다 놓거나',
    makeChoose: '파일 선택…',
    password: '암호',
    passwordAgain: '암호 확인',
    bytes: '{n}/11 바이트',
    openButton: '열기',
    makeButton: '암호화',
    cancel: '취소',
    view: '보기',
    save: '저장',
    close: '닫기',
    remove: '목록 비우기',
    askPassword: '암호를 입력하십시오.',
    waiting: '대기 중',
    working: '진행 중',
    decrypted: '복호화했습니다. 파일이 수정되지 않았음을 확인했습니다.',
    encrypted: '암호파일을 만들었습니다: {name}',
    notStarted: '앞의 파일에서 멈추어 시작하지 않았습니다.',
    cancelled: '취소했습니다. 남긴 것은 없습니다.',
    cp949: '입력한 암호를 코드 페이지 949(한국어 Windows)의 바이트로 바꾸어 열었습니다.',
    mismatch: '두 암호가 다릅니다.',
    emptyPassword: '암호가 비어 있습니다: 이 암호파일은 누구나 열 수 있습니다.',
    storageDisk: '결과는 이 사이트 전용 저장 공간(디스크)에 두었다가 페이지를 닫으면 지웁니다.',
    storageMemory: '결과를 메모리에 둡니다(폴더에서 바로 연 페이지이거나 브라우저가 전용 저장 공간을 주지 않습니다). {size}보다 큰 파일은 메모리가 모자랄 수 있습니다.',
    tooLargeForMemory: '{size}보다 큰 파일이 있습니다. 이 페이지는 결과를 메모리에 두므로 브라우저의 메모리가 모자랄 수 있습니다. 웹 서버에서 연 페이지는 결과를 디스크에 둡니다.',
    engineBroken: '엔진을 시작할 수 없습니다: {message}',
    encoding: '인코딩',
    automatic: '자동 ({name})',
    shownPart: '처음 {size}만 보여 줍니다. 전체는 저장해서 보십시오.',
    noPreview: '이 형식은 브라우저에서 보여 줄 수 없습니다. 저장해서 여십시오.',
    size: '{n} 바이트',
  },
  en: {
    language: '한국어',
    languageLabel: '이 페이지를 한국어로 보기',
    title: 'Tarvessin container viewer',
    promise: 'Your files never leave this computer: opening and making containers both happen inside this browser, and the page connects nowhere.',
    openHeading: 'Open containers',
    openDrop: 'Drop containers (.aqv3 and the like) here, or',
    openChoose: 'Choose containers…',
    makeHeading: 'Make containers',
    makeDrop: 'Drop files to encrypt here, or',
    makeChoose: 'Choose files…',
    password: 'Password',
    passwordAgain: 'Password again',
    bytes: '{n}/11 bytes',
    openButton: 'Open',
    makeButton: 'Encrypt',
    cancel: 'Cancel',
    view: 'View',
    save: 'Save',
    close: 'Close',
    remove: 'Clear the list',
    askPassword: 'Type the password.',
    waiting: 'Waiting',
    working: 'Working',
    decrypted: 'Decrypted; the file is verified as unchanged.',
    encrypted: 'Container made: {name}',
    notStarted: 'Not started: the run stopped at an earlier file.',
    cancelled: 'Cancelled; nothing was kept.',
    cp949: 'Opened with the password typed as code page 949 bytes (as Korean Windows keys it).',
    mismatch: 'The two passwords differ.',
    emptyPassword: 'The password is empty: anyone can open this container.',
    storageDisk: 'Results are kept on disk in this site\'s private storage and removed once the page is closed.',
    storageMemory: 'Results are kept in memory (the page was opened from a folder, or the browser gives it no private storage): files over {size} may not fit.',
    tooLargeForMemory: 'A file is over {size}. This page keeps results in memory, which the browser may run out of; the page served by a web server keeps them on disk.',
    engineBroken: 'The engine could not start: {message}',
    encoding: 'Encoding',
    automatic: 'Automatic ({name})',
    shownPart: 'Showing the first {size}; save the file to see all of it.',
    noPreview: 'The browser cannot show this type; save it and open it.',
    size: '{n} bytes',
  },
};

// The programs' language rule on the browser's languages (best first): the first that
// is Korean or English decides; Korean when none is given, English when only others are.
// (The engine's own rule, qv3_language_of, is held to the same cases by the tests.)
function qv3PreferredLanguage(languages) {
  for (var i = 0; i < languages.length; ++i) {
    var tag = String(languages[i]).toLowerCase();
    if (tag === 'ko' || tag.indexOf('ko-') === 0) return 'ko';
    if (tag === 'en' || tag.indexOf('en-') === 0) return 'en';
  }
  return languages.length ? 'en' : 'ko';
}
