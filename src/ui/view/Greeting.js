.pragma library

// Greeting and sub-line of the overview by local hour (0-23): the first row
// whose bound is above the hour.
const rows = [
    [2, "半夜好，", "深夜红眼航班辛苦，落地记得多睡会儿。"],
    [7, "凌晨好，", "凌晨还在线？看来你是真爱飞行！"],
    [9, "早上好，", "清晨迎着曙光起飞，一天都会很顺～"],
    [11, "上午好，", "准备好飞行计划，我们即刻起飞。"],
    [14, "中午好，", "午间吃饱喝足，推油门更有底气！"],
    [18, "下午好，", "午后精力正好，做个漂亮的落地。"],
    [22, "晚上好，", "夜航注意灯光和仪表，还有别打瞌睡。"],
    [24, "深夜好，", "夜深了，早点休息，别让执勤期超了哦。"]
];

function row(hour) {
    for (let i = 0; i < rows.length; ++i) {
        if (hour < rows[i][0])
            return rows[i];
    }
    return rows[rows.length - 1];
}

function greeting(hour) {
    return row(hour)[1];
}

function subLine(hour) {
    return row(hour)[2];
}
