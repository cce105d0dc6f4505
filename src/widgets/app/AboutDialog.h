// src/widgets/app/AboutDialog.h
#pragma once

#include <QDialog>

// The program's name and version, from an HTML page in the resources.
class AboutDialog final : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
    // The page with the version filled in.
    static QString PageHtml();
};
