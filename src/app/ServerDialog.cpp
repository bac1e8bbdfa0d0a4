#include "app/ServerDialog.h"

#include "output/Upload.h"
#include "services/Config.h"
#include "services/Http.h"
#include "services/Text.h"
#include "services/Translate.h"
#include "services/Wait.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

namespace {

// A test call is a question to the user's own service: a few seconds answer it.
THttpLimits TestLimits()
{
    THttpLimits limits;
    limits.ConnectTimeout = std::chrono::milliseconds(5000);
    limits.StallTime = std::chrono::seconds(10);
    return limits;
}

QString Reason(const THttpReply& reply)
{
    if (reply.Received)
        return QStringLiteral("HTTP %1").arg(reply.Status);
    return reply.Error.isEmpty() ? QStringLiteral("no answer") : reply.Error;
}

QString WithReason(const char* korean, const QString& reason)
{
    return Translate(QString::fromUtf8(korean)).replace(QLatin1String("%s"), reason);
}

QString Trimmed(const QLineEdit* edit)
{
    return edit->text().trimmed();
}

} // namespace

bool IsServiceAddressSet(const QString& value)
{
    QString text = value.trimmed();
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    if (text.isEmpty())
        return false;
    for (const QString& fresh : {Setting::UploadHost.Default(), Setting::ServiceUrl.Default()}) {
        if (text.compare(fresh, Qt::CaseInsensitive) == 0)
            return false;
    }
    return true;
}

bool UploadServerSet()
{
    return IsServiceAddressSet(ReadSetting(TConfig(ProgramConfigPath), Setting::UploadHost));
}

bool WebServiceSet()
{
    return IsServiceAddressSet(ReadSetting(TConfig(ProgramConfigPath), Setting::ServiceUrl));
}

TServerCheck CheckWebService(const QString& address)
{
    QString base = address.trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    THttpRequest request;
    request.Url = (base + QStringLiteral("/vorantu")).toUtf8();
    request.Schemes = THttpSchemes::HttpAndHttps;
    request.Limits = TestLimits();
    const THttpReply reply = HttpRequest(request);
    if (reply.Received && reply.Status == 200)
        return {true, Translate(QStringLiteral("웹 서비스가 응답했습니다."))};
    return {false, WithReason("웹 서비스에 연결하지 못했습니다: %s", Reason(reply))};
}

TServerCheck CheckUploadServer(const QString& host)
{
    THttpRequest request;
    request.Url = (QStringLiteral("http://") + host.trimmed() + QStringLiteral("/image")).toUtf8();
    request.Schemes = THttpSchemes::HttpOnly;
    request.Limits = TestLimits();
    // Any answer will do: the upload itself is a POST, which a test must not make.
    const THttpReply reply = HttpRequest(request);
    if (reply.Received)
        return {true, Translate(QStringLiteral("업로드 서버가 응답했습니다."))};
    return {false, WithReason("업로드 서버에 연결하지 못했습니다: %s", Reason(reply))};
}

TFrmServer::TFrmServer(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("FrmServer"));
    setWindowTitle(QStringLiteral("업로드 서버"));

    auto* hostLabel = new QLabel(QStringLiteral("이미지 업로드 서버 (호스트[:포트])"), this);
    hostLabel->setObjectName(QStringLiteral("LblUploadHost"));
    EdtUploadHost = new QLineEdit(this);
    EdtUploadHost->setObjectName(QStringLiteral("EdtUploadHost"));
    EdtUploadHost->setPlaceholderText(QStringLiteral("img.example.org:8080"));
    auto* serviceLabel = new QLabel(QStringLiteral("웹 서비스 주소"), this);
    serviceLabel->setObjectName(QStringLiteral("LblServiceUrl"));
    EdtServiceUrl = new QLineEdit(this);
    EdtServiceUrl->setObjectName(QStringLiteral("EdtServiceUrl"));
    EdtServiceUrl->setPlaceholderText(QStringLiteral("https://www.example.org"));
    BtnTest = new QPushButton(QStringLiteral("연결 시험"), this);
    BtnTest->setObjectName(QStringLiteral("BtnTest"));
    LblResult = new QLabel(this);
    LblResult->setObjectName(QStringLiteral("LblResult"));
    LblResult->setWordWrap(true);
    LblResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LblResult->setMinimumHeight(40);
    BtnYes = new QPushButton(QStringLiteral("확인"), this);
    BtnYes->setObjectName(QStringLiteral("BtnYes"));
    BtnYes->setDefault(true);
    BtnNo = new QPushButton(QStringLiteral("취소"), this);
    BtnNo->setObjectName(QStringLiteral("BtnNo"));

    auto* layout = new QGridLayout(this);
    layout->addWidget(hostLabel, 0, 0, 1, 2);
    layout->addWidget(EdtUploadHost, 1, 0, 1, 2);
    layout->addWidget(serviceLabel, 2, 0, 1, 2);
    layout->addWidget(EdtServiceUrl, 3, 0, 1, 2);
    layout->addWidget(BtnTest, 4, 0);
    layout->addWidget(LblResult, 5, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BtnYes);
    buttons->addWidget(BtnNo);
    layout->addLayout(buttons, 6, 0, 1, 2);
    setMinimumWidth(380);

    const TConfig config(ProgramConfigPath);
    const QString host = ReadSetting(config, Setting::UploadHost);
    const QString service = ReadSetting(config, Setting::ServiceUrl);
    // The reserved defaults reach nothing; an empty field says so better.
    EdtUploadHost->setText(IsServiceAddressSet(host) ? host : QString());
    EdtServiceUrl->setText(IsServiceAddressSet(service) ? service : QString());

    connect(BtnTest, &QPushButton::clicked, this, &TFrmServer::BtnTestClick);
    connect(BtnYes, &QPushButton::clicked, this, &TFrmServer::BtnYesClick);
    connect(BtnNo, &QPushButton::clicked, this, &QDialog::reject);
    TranslateComponent(this);
}

QString TFrmServer::Invalid() const
{
    const QString host = Trimmed(EdtUploadHost);
    if (!host.isEmpty() && !BuildUploadRequest(QByteArray(), host))
        return Translate(QStringLiteral("업로드 서버는 호스트 이름과 포트(선택)로 적어주세요. "
                                        "예: img.example.org:8080"));
    const QString service = Trimmed(EdtServiceUrl);
    if (!service.isEmpty() && !IsWebAddress(service))
        return Translate(QStringLiteral("웹 서비스 주소는 http:// 또는 https:// 로 "
                                        "시작해야 합니다."));
    return QString();
}

void TFrmServer::BtnTestClick()
{
    const QString invalid = Invalid();
    if (!invalid.isEmpty()) {
        LblResult->setText(invalid);
        return;
    }
    const QString host = Trimmed(EdtUploadHost);
    const QString service = Trimmed(EdtServiceUrl);
    if (host.isEmpty() && service.isEmpty()) {
        LblResult->setText(Translate(QStringLiteral("시험할 주소가 없습니다.")));
        return;
    }
    BtnTest->setEnabled(false);
    BtnYes->setEnabled(false);
    LblResult->setText(Translate(QStringLiteral("연결을 시험하는 중입니다…")));
    TServerCheck upload;
    TServerCheck web;
    Wait([&] {
        if (!host.isEmpty())
            upload = CheckUploadServer(host);
        if (!service.isEmpty())
            web = CheckWebService(service);
    });
    QStringList lines;
    if (!host.isEmpty())
        lines << upload.Text;
    if (!service.isEmpty())
        lines << web.Text;
    LblResult->setText(lines.join(QLatin1Char('\n')));
    BtnTest->setEnabled(true);
    BtnYes->setEnabled(true);
}

void TFrmServer::BtnYesClick()
{
    const QString invalid = Invalid();
    if (!invalid.isEmpty()) {
        LblResult->setText(invalid);
        return;
    }
    TConfig config(ProgramConfigPath);
    WriteSetting(config, Setting::UploadHost, Trimmed(EdtUploadHost));
    WriteSetting(config, Setting::ServiceUrl, Trimmed(EdtServiceUrl));
    accept();
}
