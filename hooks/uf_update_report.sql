-- SPDX-License-Identifier: GPL-3.0-or-later
-- uf_update_report: derives the demo's ratio indicators (aggregation kind 0)
-- from the figures the statistics run has just summed into the working table.
-- Runs inside the run's transaction with the arguments :table, :opening and
-- :cumulative bound; the working table is always t_stat here, so they are not
-- needed. A ratio whose denominator is zero or missing is 0. Ratios of
-- balances have no meaningful period figure, so their 发生数 stays 0.
-- Portable SQL: the same text runs on SQLite and on PostgreSQL (x * 1.0 keeps
-- SQLite from dividing whole numbers as integers).

-- 0701 还款率 = 0402 / 0401
UPDATE t_stat
   SET qichu = coalesce((SELECT CASE WHEN d.qichu IS NULL OR d.qichu = 0 THEN 0 ELSE round(n.qichu * 1.0 / d.qichu, 4) END
                   FROM t_stat n, t_stat d WHERE n.zbbm = '0402' AND d.zbbm = '0401'), 0),
       fasheng = coalesce((SELECT CASE WHEN d.fasheng IS NULL OR d.fasheng = 0 THEN 0 ELSE round(n.fasheng * 1.0 / d.fasheng, 4) END
                   FROM t_stat n, t_stat d WHERE n.zbbm = '0402' AND d.zbbm = '0401'), 0),
       leiji = coalesce((SELECT CASE WHEN d.leiji IS NULL OR d.leiji = 0 THEN 0 ELSE round(n.leiji * 1.0 / d.leiji, 4) END
                   FROM t_stat n, t_stat d WHERE n.zbbm = '0402' AND d.zbbm = '0401'), 0)
 WHERE zbbm = '0701';

-- 0702 逾期率 = 0601 / 0501
UPDATE t_stat
   SET qichu = coalesce((SELECT CASE WHEN d.qichu IS NULL OR d.qichu = 0 THEN 0 ELSE round(n.qichu * 1.0 / d.qichu, 4) END
                   FROM t_stat n, t_stat d WHERE n.zbbm = '0601' AND d.zbbm = '0501'), 0),
       fasheng = 0,
       leiji = coalesce((SELECT CASE WHEN d.leiji IS NULL OR d.leiji = 0 THEN 0 ELSE round(n.leiji * 1.0 / d.leiji, 4) END
                   FROM t_stat n, t_stat d WHERE n.zbbm = '0601' AND d.zbbm = '0501'), 0)
 WHERE zbbm = '0702';

-- 0703 资金使用率 = 0501 / 0101
UPDATE t_stat
   SET qichu = coalesce((SELECT CASE WHEN d.qichu IS NULL OR d.qichu = 0 THEN 0 ELSE round(n.qichu * 1.0 / d.qichu, 4) END
                   FROM t_stat n, t_stat d WHERE n.zbbm = '0501' AND d.zbbm = '0101'), 0),
       fasheng = 0,
       leiji = coalesce((SELECT CASE WHEN d.leiji IS NULL OR d.leiji = 0 THEN 0 ELSE round(n.leiji * 1.0 / d.leiji, 4) END
                   FROM t_stat n, t_stat d WHERE n.zbbm = '0501' AND d.zbbm = '0101'), 0)
 WHERE zbbm = '0703';

-- 0704 贫困户入社比例 = 0202 / 0201
UPDATE t_stat
   SET qichu = coalesce((SELECT CASE WHEN d.qichu IS NULL OR d.qichu = 0 THEN 0 ELSE round(n.qichu * 1.0 / d.qichu, 4) END
                   FROM t_stat n, t_stat d WHERE n.zbbm = '0202' AND d.zbbm = '0201'), 0),
       fasheng = 0,
       leiji = coalesce((SELECT CASE WHEN d.leiji IS NULL OR d.leiji = 0 THEN 0 ELSE round(n.leiji * 1.0 / d.leiji, 4) END
                   FROM t_stat n, t_stat d WHERE n.zbbm = '0202' AND d.zbbm = '0201'), 0)
 WHERE zbbm = '0704';

-- 0705 借款农户覆盖率 = 0502 / 0201
UPDATE t_stat
   SET qichu = coalesce((SELECT CASE WHEN d.qichu IS NULL OR d.qichu = 0 THEN 0 ELSE round(n.qichu * 1.0 / d.qichu, 4) END
                   FROM t_stat n, t_stat d WHERE n.zbbm = '0502' AND d.zbbm = '0201'), 0),
       fasheng = 0,
       leiji = coalesce((SELECT CASE WHEN d.leiji IS NULL OR d.leiji = 0 THEN 0 ELSE round(n.leiji * 1.0 / d.leiji, 4) END
                   FROM t_stat n, t_stat d WHERE n.zbbm = '0502' AND d.zbbm = '0201'), 0)
 WHERE zbbm = '0705';
