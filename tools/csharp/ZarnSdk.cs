// The Zarn SDK's C interface (include/zarnsdk.h) for C#, through P/Invoke: the same twelve
// operations and the log handler, with C# strings in and out. The runtime finds zarnsdk64_mt.dll on Windows and
// libzarnsdk64_mt.so on Linux (mono and .NET map the name); keep it beside steam_api64.
using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Zarn
{
    public static class ZarnSdk
    {
        public const int Ok = 200;
        public const int NotInit = -401;
        public const int SteamInitFailure = -402;
        public const int NotLogin = -405;
        public const int HttpFailure = -502;

        // Log levels, least severe first.
        public const int LogDebug = 0;
        public const int LogInfo = 1;
        public const int LogWarning = 2;
        public const int LogError = 3;

        // The answer to one call: at most once, on the calling thread (immediate refusals) or on
        // one of the SDK's threads. It must not throw; an exception is reported and dropped,
        // since it cannot travel through the SDK's native frames.
        public delegate void ResultCallback(int code, string msg, string data);

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        private delegate void NativeCallback(int code, IntPtr msg, IntPtr data, IntPtr user);

        // One delegate serves every call. Held in a static field: the native thunk the SDK calls
        // lives only as long as its delegate, and the SDK may answer long after the call returned.
        private static readonly NativeCallback Answer = OnAnswer;

        // One of the SDK's log lines, on the thread that logged (often one of the SDK's, not the
        // engine's main thread). It must not throw; an exception is reported and dropped.
        public delegate void LogHandler(int level, string message);

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        private delegate void NativeLogHandler(int level, IntPtr message, IntPtr user);

        private static readonly NativeLogHandler LogThunk = OnLog;
        private static volatile LogHandler logHandler;

        private static class Native
        {
            private const string Library = "zarnsdk64_mt";
            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            public static extern IntPtr zarn_version();
            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            public static extern void zarn_init(byte[] appId, UIntPtr appIdLen, byte[] appKey, UIntPtr appKeyLen,
                                                NativeCallback callback, IntPtr user);
            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            public static extern void zarn_login(NativeCallback callback, IntPtr user);
            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            public static extern void zarn_logout();
            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            public static extern void zarn_query_products(NativeCallback callback, IntPtr user);
            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            public static extern void zarn_call_pay(byte[] productId, UIntPtr productIdLen, byte[] extInfo,
                                                    UIntPtr extInfoLen, NativeCallback callback, IntPtr user);
            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            public static extern int zarn_is_pay_available();
            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            public static extern void zarn_post_event(byte[] name, UIntPtr nameLen, byte[] parameters,
                                                      UIntPtr parametersLen, double value);
            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            public static extern void zarn_set_server_id(byte[] value, UIntPtr valueLen);
            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            public static extern void zarn_set_game_user_id(byte[] value, UIntPtr valueLen);
            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            public static extern void zarn_set_nick_name(byte[] value, UIntPtr valueLen);
            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            public static extern void zarn_set_level(int level);
            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            public static extern void zarn_exit();
            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            public static extern void zarn_set_log_handler(int minLevel, NativeLogHandler handler, IntPtr user);
        }

        public static string Version { get { return FromUtf8(Native.zarn_version()); } }

        public static void Init(string appId, string appKey, ResultCallback callback)
        {
            byte[] id = Utf8(appId), key = Utf8(appKey);
            Native.zarn_init(id, Length(id), key, Length(key), NativeOf(callback), UserOf(callback));
        }
        public static void Login(ResultCallback callback) { Native.zarn_login(NativeOf(callback), UserOf(callback)); }
        public static void Logout() { Native.zarn_logout(); }
        public static void QueryProducts(ResultCallback callback)
        {
            Native.zarn_query_products(NativeOf(callback), UserOf(callback));
        }
        public static void CallPay(string productId, string extInfo, ResultCallback callback)
        {
            byte[] product = Utf8(productId), ext = Utf8(extInfo);
            Native.zarn_call_pay(product, Length(product), ext, Length(ext), NativeOf(callback), UserOf(callback));
        }
        public static bool IsPayAvailable() { return Native.zarn_is_pay_available() != 0; }
        // `parameters`: a JSON object as text, or empty; `value`: double.NaN for none.
        public static void PostEvent(string name, string parameters, double value)
        {
            byte[] n = Utf8(name), p = Utf8(parameters);
            Native.zarn_post_event(n, Length(n), p, Length(p), value);
        }
        public static void SetServerId(string value) { byte[] v = Utf8(value); Native.zarn_set_server_id(v, Length(v)); }
        public static void SetGameUserId(string value) { byte[] v = Utf8(value); Native.zarn_set_game_user_id(v, Length(v)); }
        public static void SetNickName(string value) { byte[] v = Utf8(value); Native.zarn_set_nick_name(v, Length(v)); }
        public static void SetLevel(int level) { Native.zarn_set_level(level); }
        public static void Exit() { Native.zarn_exit(); }

        // The SDK's log lines at minLevel and above (one line each, never a token, ticket or app
        // key), for the engine's console; null removes the handler. Any time, before Init too.
        public static void SetLogHandler(int minLevel, LogHandler handler)
        {
            if (handler != null)
            {
                logHandler = handler;
                Native.zarn_set_log_handler(minLevel, LogThunk, IntPtr.Zero);
            }
            else
            {
                // Returns once calls under way on other threads have ended.
                Native.zarn_set_log_handler(minLevel, null, IntPtr.Zero);
                logHandler = null;
            }
        }

        // Explicit lengths carry any character, U+0000 included; a lone surrogate becomes U+FFFD.
        private static byte[] Utf8(string text) { return Encoding.UTF8.GetBytes(text ?? string.Empty); }
        private static UIntPtr Length(byte[] bytes) { return new UIntPtr((uint)bytes.Length); }

        // The SDK never calls a null callback, so no handle is made for one.
        private static NativeCallback NativeOf(ResultCallback callback) { return callback != null ? Answer : null; }
        // The game's callback travels as a GCHandle in the user pointer; the answer frees it.
        private static IntPtr UserOf(ResultCallback callback)
        {
            return callback != null ? GCHandle.ToIntPtr(GCHandle.Alloc(callback)) : IntPtr.Zero;
        }

        private static void OnAnswer(int code, IntPtr msg, IntPtr data, IntPtr user)
        {
            GCHandle handle = GCHandle.FromIntPtr(user);
            var callback = (ResultCallback)handle.Target;
            handle.Free();  // each call is answered at most once
            try
            {
                // msg and data are the SDK's only during this call: copied into managed strings.
                callback(code, FromUtf8(msg), FromUtf8(data));
            }
            catch (Exception error)
            {
                Console.Error.WriteLine("ZarnSdk: a result callback threw: " + error);
            }
        }

        private static void OnLog(int level, IntPtr message, IntPtr user)
        {
            LogHandler handler = logHandler;
            if (handler == null) return;
            try
            {
                handler(level, FromUtf8(message));
            }
            catch (Exception error)
            {
                Console.Error.WriteLine("ZarnSdk: the log handler threw: " + error);
            }
        }

        private static string FromUtf8(IntPtr text)
        {
            if (text == IntPtr.Zero) return string.Empty;
            int length = 0;
            while (Marshal.ReadByte(text, length) != 0) ++length;
            var bytes = new byte[length];
            Marshal.Copy(text, bytes, 0, length);
            return Encoding.UTF8.GetString(bytes);
        }
    }
}
