// A game's first steps through the C# binding: Init, Login, QueryProducts and Exit, each answer
// printed, and the SDK's log lines from INFO up as "log LEVEL: message". Exit status 0 when each call answered 200 within 30 s. The SDK reads its server and
// Steam settings from the environment (ZARN_SDK_API_ORIGIN, SSL_CERT_FILE, ...).
using System;
using System.Threading;

namespace Zarn
{
    internal static class Program
    {
        private sealed class Answer
        {
            public int Code;
            public string Msg, Data;
            public readonly ManualResetEventSlim Arrived = new ManualResetEventSlim();
        }

        // Makes the call and waits for its answer, which may come on another thread.
        private static bool Ask(string what, Action<ZarnSdk.ResultCallback> call)
        {
            var answer = new Answer();
            call((code, msg, data) =>
            {
                answer.Code = code;
                answer.Msg = msg;
                answer.Data = data;
                answer.Arrived.Set();
            });
            if (!answer.Arrived.Wait(TimeSpan.FromSeconds(30)))
            {
                Console.WriteLine(what + ": no answer within 30 s");
                return false;
            }
            Console.WriteLine(what + ": code " + answer.Code + ", msg \"" + answer.Msg + "\", data " + answer.Data);
            return answer.Code == ZarnSdk.Ok;
        }

        private static int Main()
        {
            Console.WriteLine("zarn-csharp-sample: SDK " + ZarnSdk.Version);
            ZarnSdk.SetLogHandler(ZarnSdk.LogInfo, (level, message) => Console.WriteLine("log " + level + ": " + message));
            bool ok = Ask("Init", cb => ZarnSdk.Init("1001", "zarn-demo-key", cb))
                   && Ask("Login", cb => ZarnSdk.Login(cb))
                   && Ask("QueryProducts", cb => ZarnSdk.QueryProducts(cb));
            ZarnSdk.Exit();
            ZarnSdk.SetLogHandler(ZarnSdk.LogInfo, null);
            Console.WriteLine(ok ? "zarn-csharp-sample: every call answered 200" : "zarn-csharp-sample: a call failed");
            return ok ? 0 : 1;
        }
    }
}
