#include "previewdlg.h"
// Temporary: replaced by the real viewer.
CPreviewDlg::CPreviewDlg(QWidget *parent) : QDialog(parent) {}
CPreviewDlg::~CPreviewDlg() = default;
