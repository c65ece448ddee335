// Instrument selection: open a session to the typed address and make sure a QV3310 with a
// QV3391 module in slot 100 and a DMM answers there.

#include <QLineEdit>

#include "app/routineerror.h"
#include "app/visacomexample.h"
#include "visa/visibletext.h"

namespace {

const QString kSerialOptions = QStringLiteral(
    "Timeout = 10000 ; SendEndEnabled = TRUE ; TerminationCharacter = 10 ; TerminationCharacterEnabled = TRUE ; "
    "BaudRate = 115200 ; DataBits = 8 ; EndIn = ASRL_END_TERMCHAR ; EndOut = ASRL_END_NONE ; "
    "FlowControl = ASRL_FLOW_XON_XOFF ; Parity = ASRL_PAR_NONE  ; StopBits = ASRL_STOP_ONE \"");

} // namespace

bool VISAComExample::OpenIO()
{
    try {
        if (ioOpen)
            instr->IO->Close();

        rm = std::make_unique<visa::ResourceManager>(m_ioLibrary);
        instr = std::make_unique<visa::FormattedIO488>();

        ioAddress = ioSelect->text().toUpper();
        if (ioAddress.contains(QLatin1String("GPIB"))) {
            instr->IO = rm->Open(ioAddress.toStdString(), -1, -1, "");
        } else if (ioAddress.contains(QLatin1String("ASRL"))) {
            ioAddress += QLatin1String("::INSTR");
            ioOptions = kSerialOptions;
            instr->IO = rm->Open(ioAddress.toStdString(), -1, -1, ioOptions.toStdString());
        } else {
            showMessage(tr("No Resources found"));
            End();
        }

        if (ioAddress.contains(QLatin1String("ASRL")))
            send(QStringLiteral("SYSTem:REMote"));

        send(QStringLiteral("*IDN?"));
        idString = readString();

        if (!idString.contains(QLatin1String("QV3310"))) {
            showMessage(tr("Wrong instrument addressed!"));
            ioSelect->setText(QString::fromLatin1(kDefaultAddress));
            ioSelect->repaint();
            ioOpen = false;
            instr->IO->Close();
            return false;
        }

        idString = RemoveLfCr(idString);
        m_instrumentId = idString; // idString goes on to hold the module reply
        clearList();
        appendLine(tr("Instrument ID is:"));
        appendLine(idString);
        appendLine(QString());

        send(QStringLiteral("SYSTem:CTYPe? 100"));
        idString = readString();
        if (!idString.contains(QLatin1String("QV3391"))) {
            showMessage(tr("Incorrect Module Installed in slot 100!"));
            EndProg();
        }

        send(QStringLiteral("INSTrument:DMM:INSTalled?"));
        replyValue = static_cast<std::int16_t>(instr->ReadNumber(visa::ASCIIType_I2));
        if (replyValue == 0) {
            showMessage(tr("DMM not installed; unable to make measurements."));
            EndProg();
        }

        send(QStringLiteral("INSTrument:DMM?"));
        replyValue = static_cast<std::int16_t>(instr->ReadNumber(visa::ASCIIType_I2));
        if (replyValue == 0)
            send(QStringLiteral("INSTrument:DMM ON"));

        ioOpen = true;
        return true;
    } catch (const RoutineError &e) {
        showMessage(e.description());
        End();
    } catch (const std::exception &e) {
        // The I/O library's failures (visa::VisaError), and anything unforeseen.
        showMessage(QString::fromStdString(e.what()));
        End();
    }
}

void VISAComExample::SelectIO_Click()
{
    OpenIO();
}

QString VISAComExample::RemoveLfCr(QString &strval)
{
    // Only the terminator that is there goes: LF always ends a reply, and a serial instrument
    // may send CR before it. Cutting a fixed count would eat a real character of an LF-only reply.
    const bool serial = ioAddress.contains(QLatin1String("ASRL"));
    if (!strval.endsWith(QLatin1Char('\n'))) {
        if (strval.isEmpty())
            fail(tr("The reply \"\" from %1 is shorter than its line terminator (%2).")
                     .arg(ioAddress, serial ? tr("CR LF") : tr("LF")));
        fail(tr("The reply \"%1\" from %2 does not end with its line terminator (LF).")
                 .arg(QString::fromStdString(visa::visibleText(strval.toLatin1().toStdString())), ioAddress));
    }
    strval.chop(1);
    if (serial && strval.endsWith(QLatin1Char('\r')))
        strval.chop(1);
    return strval;
}
