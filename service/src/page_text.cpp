// The pages' translation table: one row per text, languages in the program's order
// (ko, en, ja, zh, ru, it, fr, es, ar).
#include "page_text.h"

#include <array>

namespace nimbrel::service {
namespace {

using TRow = std::array<std::string_view, LanguageCount>;

constexpr std::array<TRow, static_cast<size_t>(TText::Count_)> Table = {{
    {"정리 보고서", "Clean report", "クリーン結果", "清理报告", "Отчёт об очистке", "Rapporto di pulizia",
     "Rapport de nettoyage", "Informe de limpieza", "تقرير التنظيف"},
    {"메모리", "Memory", "メモリ", "内存", "Память", "Memoria", "Mémoire", "Memoria", "الذاكرة"},
    {"정리 전 사용 가능", "Available before", "クリーン前の空き", "清理前可用", "Свободно до", "Disponibile prima",
     "Disponible avant", "Disponible antes", "المتاح قبل"},
    {"정리 후 사용 가능", "Available after", "クリーン後の空き", "清理后可用", "Свободно после", "Disponibile dopo",
     "Disponible après", "Disponible después", "المتاح بعد"},
    {"전체 메모리", "Total memory", "合計メモリ", "内存总量", "Всего памяти", "Memoria totale", "Mémoire totale",
     "Memoria total", "إجمالي الذاكرة"},
    {"확보한 메모리", "Freed", "解放したメモリ", "释放的内存", "Освобождено", "Liberata", "Libérée", "Liberada",
     "المحرَّرة"},
    {"알 수 없음", "unknown", "不明", "未知", "неизвестно", "sconosciuto", "inconnu", "desconocido", "غير معروف"},
    {"프로세스", "Processes", "プロセス", "进程", "Процессы", "Processi", "Processus", "Procesos", "العمليات"},
    {"종료됨", "Ended", "終了済み", "已结束", "Завершены", "Terminati", "Terminés", "Cerrados", "أُنهيت"},
    {"아직 실행 중", "Still running", "実行中のまま", "仍在运行", "Ещё работают", "Ancora in esecuzione",
     "Toujours actifs", "Siguen en ejecución", "لا تزال تعمل"},
    {"남겨 둠", "Left alone", "そのまま", "保留", "Оставлены", "Non toccati", "Épargnés", "Sin tocar", "تُركت"},
    {"프로그램", "Program", "プログラム", "程序", "Программа", "Programma", "Programme", "Programa", "البرنامج"},
    {"상태", "State", "状態", "状态", "Состояние", "Stato", "État", "Estado", "الحالة"},
    {"자동실행 항목", "Startup entries", "スタートアップ項目", "启动项", "Элементы автозагрузки", "Voci di avvio",
     "Éléments de démarrage", "Elementos de inicio", "عناصر بدء التشغيل"},
    {"출처", "Source", "場所", "来源", "Источник", "Origine", "Source", "Origen", "المصدر"},
    {"설치된 프로그램", "Installed programs", "インストール済みプログラム", "已安装的程序", "Установленные программы",
     "Programmi installati", "Programmes installés", "Programas instalados", "البرامج المثبتة"},
    {"게시자", "Publisher", "発行元", "发布者", "Издатель", "Editore", "Éditeur", "Editor", "الناشر"},
    {"페이지를 찾을 수 없습니다", "Page not found", "ページが見つかりません", "找不到页面", "Страница не найдена",
     "Pagina non trovata", "Page introuvable", "Página no encontrada", "الصفحة غير موجودة"},
    {"요청한 보고서나 페이지가 없거나 삭제되었습니다.",
     "The report or page you asked for does not exist or has been deleted.",
     "お探しのレポートまたはページは存在しないか、削除されました。", "您要找的报告或页面不存在或已被删除。",
     "Запрошенный отчёт или страница не существует или была удалена.",
     "Il rapporto o la pagina richiesti non esistono o sono stati eliminati.",
     "Le rapport ou la page demandés n'existent pas ou ont été supprimés.",
     "El informe o la página que buscas no existe o se ha eliminado.",
     "التقرير أو الصفحة المطلوبة غير موجودة أو تم حذفها."},
    {"자동실행 항목", "Startup entry", "スタートアップ項目", "启动项", "Элемент автозагрузки", "Voce di avvio",
     "Élément de démarrage", "Elemento de inicio", "عنصر بدء التشغيل"},
    {"설명", "Description", "説明", "说明", "Описание", "Descrizione", "Description", "Descripción", "الوصف"},
    {"이 항목에 대한 설명이 아직 없습니다.", "There is no description of this entry yet.",
     "この項目の説明はまだありません。", "暂无此项的说明。", "Описания этого элемента пока нет.",
     "Non c'è ancora una descrizione di questa voce.", "Cet élément n'a pas encore de description.",
     "Todavía no hay una descripción de este elemento.", "لا يوجد وصف لهذا العنصر بعد."},
    {"저장된 보고서 {n}개에 이 항목이 있습니다.", "Stored reports that list this entry: {n}.",
     "保存されたレポート{n}件にこの項目があります。", "{n} 份已保存的报告中有此项。",
     "Встречается в сохранённых отчётах: {n}.", "Rapporti salvati che elencano questa voce: {n}.",
     "Rapports enregistrés qui citent cet élément : {n}.", "Informes guardados que incluyen este elemento: {n}.",
     "ورد في {n} من التقارير المحفوظة."},
    {"시작 프로그램 폴더", "Startup folder", "スタートアップ フォルダー", "启动文件夹", "Папка автозагрузки",
     "Cartella Esecuzione automatica", "Dossier Démarrage", "Carpeta de inicio", "مجلد بدء التشغيل"},
    {"레지스트리 (모든 사용자)", "Registry (all users)", "レジストリ (すべてのユーザー)", "注册表（所有用户）",
     "Реестр (все пользователи)", "Registro (tutti gli utenti)", "Registre (tous les utilisateurs)",
     "Registro (todos los usuarios)", "السجل (جميع المستخدمين)"},
    {"레지스트리 (현재 사용자)", "Registry (current user)", "レジストリ (現在のユーザー)", "注册表（当前用户）",
     "Реестр (текущий пользователь)", "Registro (utente corrente)", "Registre (utilisateur actuel)",
     "Registro (usuario actual)", "السجل (المستخدم الحالي)"},
    {"예약된 작업", "Scheduled task", "タスク スケジューラ", "计划任务", "Запланированная задача",
     "Attività pianificata", "Tâche planifiée", "Tarea programada", "مهمة مجدولة"},
    {"서비스", "Service", "サービス", "服务", "Служба", "Servizio", "Service", "Servicio", "خدمة"},
    {"메모리를 정리하고, 자동실행 프로그램을 관리하고, 강제로 설치된 보안 프로그램을 삭제하는 작은 윈도우 "
     "프로그램입니다.",
     "A small Windows utility that frees memory, manages startup programs and removes security plug-ins that "
     "web sites installed without asking.",
     "メモリを整理し、スタートアップ プログラムを管理し、強制的にインストールされたセキュリティ プラグインを"
     "削除する小さな Windows ユーティリティです。",
     "一个小巧的 Windows 工具：释放内存、管理启动项、卸载被强制安装的安全插件。",
     "Небольшая утилита для Windows: освобождает память, управляет автозагрузкой и удаляет навязанные "
     "сайтами защитные плагины.",
     "Una piccola utilità per Windows che libera memoria, gestisce i programmi di avvio e rimuove i plug-in di "
     "sicurezza installati senza chiedere.",
     "Un petit utilitaire Windows qui libère la mémoire, gère les programmes au démarrage et supprime les "
     "plug-ins de sécurité installés d'office.",
     "Una pequeña utilidad de Windows que libera memoria, gestiona los programas de inicio y elimina los "
     "complementos de seguridad instalados sin permiso.",
     "أداة صغيرة لنظام ويندوز تحرّر الذاكرة وتدير برامج بدء التشغيل وتزيل إضافات الأمان المثبتة قسرًا."},
    {"실행하기: 윈도우 필수 프로그램만 남기고 나머지를 종료한 뒤 메모리를 정리합니다.",
     "Clean: closes everything but the programs Windows needs, then frees memory.",
     "クリーン: Windows に必要なプログラム以外を終了し、メモリを整理します。",
     "清理：只保留 Windows 必需的程序，结束其余程序并释放内存。",
     "Очистка: завершает всё, кроме нужных Windows программ, и освобождает память.",
     "Pulizia: chiude tutto tranne i programmi necessari a Windows e libera la memoria.",
     "Nettoyage : ferme tout sauf les programmes nécessaires à Windows et libère la mémoire.",
     "Limpiar: cierra todo excepto los programas que Windows necesita y libera memoria.",
     "التنظيف: يغلق كل شيء عدا البرامج التي يحتاجها ويندوز ثم يحرّر الذاكرة."},
    {"자동실행: 컴퓨터가 켜질 때 실행되는 항목을 보여 주고 하나씩 켜고 끌 수 있습니다.",
     "Startup: lists what runs when the computer starts and switches single entries off and on.",
     "スタートアップ: 起動時に実行される項目を一覧表示し、個別にオン・オフできます。",
     "启动：列出开机时运行的项目，可逐项启用或禁用。",
     "Автозагрузка: показывает, что запускается при старте, и включает или выключает отдельные элементы.",
     "Avvio: elenca ciò che parte all'accensione e attiva o disattiva le singole voci.",
     "Démarrage : liste ce qui se lance au démarrage et active ou désactive chaque élément.",
     "Inicio: muestra lo que se ejecuta al arrancar y activa o desactiva cada elemento.",
     "بدء التشغيل: يعرض ما يعمل عند تشغيل الجهاز ويتيح تفعيل كل عنصر أو تعطيله."},
    {"강제설치: 은행 등 웹사이트가 설치한 보안 플러그인을 찾아 삭제합니다.",
     "Bundle: finds the security plug-ins that banks and other web sites installed, and uninstalls them.",
     "バンドル: 銀行などのサイトがインストールしたセキュリティ プラグインを見つけて削除します。",
     "捆绑：查找并卸载银行等网站安装的安全插件。",
     "Пакеты: находит и удаляет защитные плагины, установленные банками и другими сайтами.",
     "Pacchetti: trova e disinstalla i plug-in di sicurezza installati da banche e altri siti.",
     "Paquets : trouve et désinstalle les plug-ins de sécurité installés par les banques et d'autres sites.",
     "Paquetes: encuentra y desinstala los complementos de seguridad que instalan los bancos y otros sitios.",
     "الحزم: يعثر على إضافات الأمان التي ثبّتتها البنوك والمواقع الأخرى ويزيلها."},
    {"보고서는 {n}일 후에 삭제됩니다.", "Reports are deleted after {n} days.", "レポートは{n}日後に削除されます。",
     "报告将在 {n} 天后删除。", "Отчёты удаляются через {n} дн.", "I rapporti vengono eliminati dopo {n} giorni.",
     "Les rapports sont supprimés après {n} jours.", "Los informes se eliminan a los {n} días.",
     "تُحذف التقارير بعد {n} يومًا."},
    {"님브렐 소개", "About Nimbrel", "Nimbrel について", "关于 Nimbrel", "О Nimbrel", "Informazioni su Nimbrel",
     "À propos de Nimbrel", "Acerca de Nimbrel", "حول Nimbrel"},
}};

}  // namespace

std::string_view PageText(TText Text, TLanguage Language) {
  return Table[static_cast<size_t>(Text)][static_cast<size_t>(Language)];
}

std::string PageText(TText Text, TLanguage Language, std::int64_t Number) {
  std::string Result(PageText(Text, Language));
  const size_t Mark = Result.find("{n}");
  if (Mark != std::string::npos) Result.replace(Mark, 3, std::to_string(Number));
  return Result;
}

}  // namespace nimbrel::service
