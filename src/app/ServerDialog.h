#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

// Whether the user has pointed the program at a service: a value that is
// set and is not a fresh installation's default, whose reserved ".example"
// name reaches nothing.
bool IsServiceAddressSet(const QString& value);
bool UploadServerSet();
bool WebServiceSet();

// The result of one test call, in the user's language.
struct TServerCheck
{
    bool Ok = false;
    QString Text;
};

// Test calls with short time-outs; they block, so run them off the
// user-interface thread. The web service must answer its product page with
// status 200; the upload server must answer at all.
TServerCheck CheckWebService(const QString& address);
TServerCheck CheckUploadServer(const QString& host);

// Where uploads go ("upload_host") and where the web service runs
// ("service_url"), with a test call. OK stores both and closes; an address
// that cannot be used keeps the dialog open and says why.
class TFrmServer : public QDialog
{
    Q_OBJECT
public:
    explicit TFrmServer(QWidget* owner = nullptr);

private:
    void BtnTestClick();
    void BtnYesClick();
    // Nothing (empty) or the reason the entered addresses cannot be stored.
    QString Invalid() const;

    QLineEdit* EdtUploadHost;
    QLineEdit* EdtServiceUrl;
    QPushButton* BtnTest;
    QLabel* LblResult;
    QPushButton* BtnYes;
    QPushButton* BtnNo;
};
