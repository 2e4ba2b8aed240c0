// Creation, a property round trip and an error caught as an exception.
var failures = 0;
function check(what, got, want) {
    if (String(got) != String(want)) {
        WScript.Echo("FAIL " + what + ": got [" + got + "] want [" + want + "]");
        failures++;
    }
}
function hex(n) { return (n >>> 0).toString(16).toUpperCase(); }

// "ja": the Japanese texts are expected.
var japanese = WScript.Arguments.length > 0 && WScript.Arguments(0) == "ja";
var m = new ActiveXObject("Quenta.Mail");
m.PortNumber = 2525;
check("PortNumber", m.PortNumber, 2525);
m.Password = "js-secret";
check("Password", m.Password, "js-secret");
try {
    m.Send();
    check("Send without a message", "no exception", "exception");
} catch (e) {
    check("e.number", hex(e.number), "80004005");
    check("e.description", e.description, japanese
        ? "\u30e1\u30fc\u30eb\u3092\u9001\u4fe1\u3059\u308b\u305f\u3081\u306e\u60c5\u5831\u304c\u8db3\u308a\u307e\u305b\u3093\u3002"
        : "It is short of information to transmit mail.");
}
if (japanese) {
    try {
        m.AddTo("a@js.test", "");
        check("AddTo without a message", "no exception", "exception");
    } catch (e) {
        check("Japanese e.description", e.description,
              "\u30e1\u30fc\u30eb\u30a2\u30a4\u30c6\u30e0\u3092\u8ffd\u52a0\u3067\u304d\u307e\u305b\u3093\u3067\u3057\u305f\u3002");
    }
}
WScript.Echo("DONE " + failures);
