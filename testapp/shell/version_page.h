// The "Ver information" page: the pad's version fields and the authentication controls.
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include "shell.h"

namespace shell {

class VersionPage : public QWidget {
    Q_OBJECT
public:
    VersionPage(Shell& shell, QWidget* parent = nullptr);

    // Start-up fill of the authorization field from the key store.
    void LoadAuthorizationData();

    void btGetVersionClick();
    void Button1Click();
    void btInitAuthorizationClick();
    void btBidirectionAuthorizationClick();
    void Button7Click();

private:
    QWidget* BuildVersionGroup();
    QWidget* BuildAuthenticationGroup();

    Shell& m_shell;
    QLineEdit* edRemark;
    QLineEdit* edProductType;
    QLineEdit* edHardwareVersion;
    QLineEdit* edSoftwareVersion;
    QLineEdit* edDate;
    QLineEdit* edProductNO;
    QPushButton* btGetVersion;
    QPushButton* Button1;

    QLineEdit* edAuthorizationData;
    QLineEdit* edReturnAuthorization;
    QComboBox* ComboInitKey;
    QLineEdit* AuthRandom;
    QComboBox* ComboBox4;
    QLineEdit* auth_password;
    QPushButton* btInitAuthorization;
    QPushButton* btBidirectionAuthorization;
    QPushButton* SetPassword;
};

}  // namespace shell
