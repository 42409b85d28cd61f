#pragma once
// The progress window of one engine run (template 118) in Qt: the line saying whether
// files are encrypted or decrypted, the file in work, a bar from 0 to 100 and Cancel.
// Modeless, no parent, shown by the first file. It never closes itself: Cancel, Escape
// and the window manager's close only call onCancel; whoever opened it deletes it.
// Lives on the GUI thread, like every widget.

#include <QtWidgets/QDialog>

#include <functional>
#include <string>

#include "container/front_end.h"

class QLabel;
class QProgressBar;
class QPushButton;

class ProgressWindow : public QDialog {
 public:
  static const char kCaption[];
  static const char kEncrypting[];
  static const char kDecrypting[];
  static const char kCancel[];
  static const char kCancelDescription[];

  // Any operation but OPERATION_ENCRYPT shows "복호화중...".
  ProgressWindow(int operation, std::function<void()> onCancel);

  // Start of each file: the bar at 0, the file line (and the bar's accessible name, so
  // that screen readers hear of the new file), shown and painted.
  void StartFile(const std::string& path);
  // The bar at percent (0..100), painted.
  void SetProgress(unsigned percent);
  // A run whose bar stands for all its files: the file line, shown and painted, the bar
  // left as it is.
  void ShowFile(const std::string& path);

  QLabel* MessageLine() const { return m_message; }
  QLabel* FileLine() const { return m_file; }
  QProgressBar* Bar() const { return m_bar; }
  QPushButton* CancelButton() const { return m_cancel; }

 protected:
  void reject() override;  // Escape: onCancel, the window stays
  void closeEvent(QCloseEvent* event) override;

 private:
  std::function<void()> m_onCancel;
  QLabel* m_message;
  QLabel* m_file;
  QProgressBar* m_bar;
  QPushButton* m_cancel;
};
