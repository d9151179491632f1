#include "recipients/User.h"

#include <utility>

CUser::CUser(QString name, QString telephone, QString mail)
    : Name(std::move(name)), Telephone(std::move(telephone)), Mail(std::move(mail))
{
}
