#pragma once

#include <QString>

// One recipient of alarms. An empty Telephone means no SMS for this recipient, an empty
// Mail no e-mail.
class CUser
{
public:
    CUser() = default;
    CUser(QString name, QString telephone, QString mail);
    virtual ~CUser() = default;

    QString Name;
    QString Telephone;
    QString Mail;
};
