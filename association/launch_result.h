#pragma once
// How handing a file to the program the desktop associates with its type went.

enum LaunchResult {
  Failed = -1,      // no program could be started for it
  NoProcess = 0,    // it went to a program without a process to wait for
  ProcessEnded = 1  // a process was started for it and has ended
};
